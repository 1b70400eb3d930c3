#pragma once
// The keeper of the list for a copy of the program with no guard: the
// guard's own keeper, run in this process and reached through the same link
// the windows use for the guard, with the program's own ways: the list is
// saved at the configuration window's Close, a password that could not be
// saved is taken all the same until the program ends, and wrong passwords
// are not slowed down.
#include <windows.h>

#include <string>
#include <vector>

#include "app/GuardBook.h"
#include "common/LockBudget.h"
#include "common/SystemPasswordHash.h"
#include "guard/ListKeeper.h"
#include "locker/ItemLocker.h"
#include "store/Registry.h"

namespace vaultmere {

// Where the program keeps the list and the password.
struct ProgramStoreKeys {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring filesKeyPath = Registry::kFilesKeyPath;
    std::wstring settingsKeyPath = Registry::kSettingsKeyPath;
};

// The registry as the program alone uses it: read once at the resident
// copy's start, the list kept back until the window's Close, and the
// password written at once.
class ProgramListStore final : public ListStore {
public:
    explicit ProgramListStore(ProgramStoreKeys keys) : keys_(std::move(keys)) {}
    ~ProgramListStore() override;
    ProgramListStore(const ProgramListStore&) = delete;
    ProgramListStore& operator=(const ProgramListStore&) = delete;

    // A list that cannot be read is never taken for an empty one: every
    // change is refused and nothing is written back (ListError says why).
    void Load();
    long ListError() const { return itemsError_; }
    long ReadItems(std::vector<std::wstring>& items) override;
    long SaveItems(const std::vector<std::wstring>& items) override;
    long ReadPassword(std::wstring& password) override;
    long SavePassword(const std::wstring& password) override;
    long Commit() override;
    bool KeepsUnsaved() const override { return true; }
    std::wstring ErrorWords(long code) const override;

private:
    ProgramStoreKeys keys_;
    std::vector<std::wstring> items_;
    long itemsError_ = ERROR_SUCCESS;
    bool itemsChanged_ = false;  // since the list was read or last saved
    std::wstring password_;
    long passwordError_ = ERROR_SUCCESS;  // why it could not be read, until one is set
};

// A copy with no guard locks with its own user's rights: it asks the
// admission rule as that user, shares included, a tree held to treeLimit.
class OwnUserGate final : public ItemGate {
public:
    explicit OwnUserGate(std::size_t treeLimit) : treeLimit_(treeLimit) {}
    std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) override {
        ApprovedFolder ignored;
        return Approve(connection, path, ignored);
    }
    std::wstring Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) override;

private:
    std::size_t treeLimit_;
};

class LocalKeeper final : public GuardLink {
public:
    // treeLimit: the locker's budget's.
    explicit LocalKeeper(ItemLocker& locker, ProgramStoreKeys keys = ProgramStoreKeys(),
                         std::size_t treeLimit = PlatformLockBudget().treeLimit);

    std::optional<GuardMessage> Exchange(const GuardMessage& request) override;
    // What the windows are told while the stored list cannot be read.
    std::wstring Problem() const override;
    void Tick() override { keeper_.RelockDue(); }
    void Begin() override;
    void SessionLeft() override;

    ListKeeper& Keeper() { return keeper_; }

private:
    static constexpr ConnectionId kWindows = 1;

    ProgramListStore store_;
    OwnUserGate gate_;
    SystemPasswordHash hash_;
    ListKeeper keeper_;
};

}  // namespace vaultmere
