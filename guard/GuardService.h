#pragma once
// The Vaultmere Guard service: holds the stored list's locks for the whole
// machine from startup and serves the window copies through the pipe.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

#include "channel/GuardPipe.h"
#include "common/SystemPasswordHash.h"
#include "common/UniqueHandle.h"
#include "guard/GuardEvents.h"
#include "guard/GuardItemGate.h"
#include "guard/HandOver.h"
#include "guard/ListKeeper.h"
#include "guard/ServiceBase.h"
#include "guard/StoreWatch.h"
#include "guard/VolumeNotices.h"
#include "locker/FileLocker.h"
#include "store/LockBudgetStore.h"

namespace vaultmere {

// The list and the password in the program's registry keys, which only the
// system and administrators may read: every key written is created with
// that descriptor, and the descriptor is set again where it differs.
class RegistryListStore final : public ListStore {
public:
    long ReadItems(std::vector<std::wstring>& items) override;
    long SaveItems(const std::vector<std::wstring>& items) override;
    long ReadPassword(std::wstring& password) override;
    long SavePassword(const std::wstring& password) override;
};

class GuardService final : public ServiceBase {
public:
    GuardService();
    ~GuardService() override;

protected:
    DWORD OnStart() override;
    void OnStop() override;
    DWORD OnDeviceEvent(DWORD eventType, void* eventData) override;
    void OnSessionChange(DWORD change, DWORD sessionId) override;

private:
    static DWORD WINAPI LockInBackground(void* self);
    DWORD LockStored();
    // Locks again, every few seconds, the unlocked items whose time is up.
    static DWORD WINAPI RelockWhenDue(void* self);
    // Tries the pipe again every second until it is the guard's.
    static DWORD WINAPI ServePipeWhenFree(void* self);
    // Starts a thread of the guard's; false (nothing started) when it cannot.
    bool StartThread(UniqueHandle& thread, LPTHREAD_START_ROUTINE work);
    // A connection's client token, for the gate's checks on workers: held
    // open by whoever keeps the pointer, past the connection's end.
    std::shared_ptr<const UniqueHandle> TokenOf(ConnectionId connection);
    // The relock settings read again, after a change to the keys they are in.
    void RefreshRelockSettings();
    PipeAnswer Answer(ConnectionId connection, const Bytes& message);
    // A password is checked on a worker after its user's wait, and a new
    // one's verifier made there: the slow hash never holds up the pipe.
    PipeAnswer AnswerPassword(ConnectionId connection, std::wstring entry);
    PipeAnswer AnswerSetPassword(ConnectionId connection, std::wstring password);
    // The keeper's reply as sent, with the entries it calls for in the log.
    PipeAnswer Sent(const KeeperReply& reply, const std::wstring& user, bool authenticated);
    // The stored list changed and has been quiet since: what it holds now
    // is locked, what it no longer holds let go.
    void ApplyStoredList();
    // The same for the folders an administrator's policy keeps locked.
    void ApplyPolicyList();
    // Registers the volumes of the listed items for removal notices; with
    // onlyNew, only items on no volume registered yet are looked at.
    void WatchVolumes(bool onlyNew);

    // Declared before the locker, whose opens look here first.
    TakenFiles taken_;
    // Read once, for the locker and the gate; a bad value is logged at the start.
    const Registry::LockBudgetReading budget_;
    FileLocker locker_;
    RegistryListStore store_;
    GuardItemGate gate_;
    SystemPasswordHash hash_;
    ListKeeper keeper_;
    GuardPipeServer server_;
    GuardEvents events_;
    StoreWatch watch_;
    StoreWatch policyWatch_;
    UniqueHandle starter_;
    // Set at the stop: the threads that wait on it end.
    UniqueHandle stopping_;
    UniqueHandle relocker_;
    UniqueHandle pipeRetrier_;
    std::unique_ptr<VolumeNotices> notices_;
    // Until when reading the lists also looks for the volumes of items on
    // no volume registered: a minute after a volume arrived.
    static constexpr ULONGLONG kLookForVolumesMs = 60000;
    // How often the pipe is tried again while it cannot be made.
    static constexpr DWORD kPipeRetryMs = 1000;
    // How long the files a holder kept wait for the locker to take them.
    static constexpr DWORD kTakenFilesWaitMs = 60000;
    ULONGLONG lookForVolumesUntil_ = 0;
    // As last read; the keeper asks for them at every list a window reads.
    RelockSettings relock_;
    // The keeper and the notices are used from the pipe's thread, the start
    // thread, the watches' threads and the service manager's (device events,
    // stop).
    std::mutex lock_;
    std::mutex tokensLock_;
    std::map<ConnectionId, std::shared_ptr<const UniqueHandle>> tokens_;
};

}  // namespace vaultmere
