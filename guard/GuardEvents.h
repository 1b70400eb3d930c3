#pragma once
// The guard's entries in the Application event log, under the event source
// VaultmereGuard, whose texts are the message table in VaultmereGuard.exe.
#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>

#include "common/UniqueHandle.h"
#include "guard/ListKeeper.h"

namespace vaultmere {

class GuardEvents final : public KeeperEvents {
public:
    GuardEvents();

    // The audit trail of the keeper's changes: the user as DOMAIN\name with
    // the SID, the session and the item. Nothing to do when an entry cannot
    // be written.
    void Unlocked(const ChangeActor& by, const std::wstring& item) override;
    void Relocked(const ChangeActor& by, const std::wstring& item, RelockCause cause) override;
    void Locked(const ChangeActor& by, const std::wstring& item) override;
    void Removed(const ChangeActor& by, const std::wstring& item) override;
    void PasswordSet(const ChangeActor& by) override;
    void PolicyApplied(const std::vector<std::wstring>& added, const std::vector<std::wstring>& removed) override;
    void PolicyValueUnusable(const std::wstring& value, ItemFault why) override;
    void StoredItemUnusable(const std::wstring& item, ItemFault why) override;
    // Looks up the name of a user (its SID as text) before the keeper's
    // lock is taken: a lookup may have to ask a domain controller.
    void LearnName(const std::wstring& user) { NameOf(user); }

    // A wrong password from the user with this SID (as text); false when
    // the entry could not be written. From any thread.
    bool WrongPassword(const std::wstring& user);
    // The guard's pipe could not be made: another process serves its name
    // (holder is that process's id, 0 when unknown), or error says why.
    // Once, when the guard starts trying again; PipeServed once it serves.
    bool PipeTaken(const std::wstring& pipeName, DWORD holder, DWORD error);
    bool PipeServed(const std::wstring& pipeName);
    // The stored password could not be read: the Win32 error.
    bool PasswordUnreadable(long error);
    // The stored password is text that no entry at the prompt can match.
    bool PasswordUntypable();
    // The locker refused a folder; from any thread.
    bool FolderRefused(const std::wstring& folder);
    // MaxLockedFiles at place (a key path and value name under
    // HKEY_LOCAL_MACHINE) holds value, which is not taken: handles holds.
    bool LockLimitIgnored(const std::wstring& place, const std::wstring& value, std::size_t handles);

    // An exception that escaped one of the guard's entry points, just
    // before the process ends; with an event source of its own, since the
    // service's state may be broken. An EscapeLog.
    static void UnexpectedError(const std::wstring& text);

    // DOMAIN\name of a SID given as text; the SID itself when it names no
    // account.
    static std::wstring AccountName(const std::wstring& user);

private:
    bool Report(WORD type, DWORD id, std::initializer_list<std::wstring> texts, const std::wstring& user = {});
    // The user's name, looked up once.
    std::wstring NameOf(const std::wstring& user);
    bool ReportChange(DWORD id, const ChangeActor& by, const std::wstring& item);

    UniqueEventSource source_;
    // Names looked up before: a lookup may have to ask a domain controller.
    // Passwords are checked on workers: the names are shared under a lock.
    std::mutex namesLock_;
    std::map<std::wstring, std::wstring> names_;
};

}  // namespace vaultmere
