#include "app/LocalKeeper.h"

#include "common/SecureText.h"
#include "common/SystemError.h"
#include "locker/DiskAdmission.h"
#include "store/RelockStore.h"

namespace vaultmere {

ProgramListStore::~ProgramListStore() { WipeText(password_); }

void ProgramListStore::Load() {
    items_ = Registry::ReadStoredItems(keys_.root, keys_.filesKeyPath);
    Registry::RegistryValue stored;
    const Registry::RegistryStatus read = Registry::ReadRegistryValue(keys_.root, keys_.settingsKeyPath,
                                                                      Registry::kPasswordValueName, stored);
    WipeText(password_);
    password_ = stored.ToText();
    passwordError_ = read || read.code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : read.code;
}

long ProgramListStore::ReadItems(std::vector<std::wstring>& items) {
    items = items_;
    return ERROR_SUCCESS;
}

long ProgramListStore::SaveItems(const std::vector<std::wstring>& items) {
    items_ = items;
    return ERROR_SUCCESS;
}

long ProgramListStore::ReadPassword(std::wstring& password) {
    password = password_;
    return passwordError_;
}

long ProgramListStore::SavePassword(const std::wstring& password) {
    WipeText(password_);
    password_ = password;
    passwordError_ = ERROR_SUCCESS;
    return Registry::SetRegistryValue(keys_.root, keys_.settingsKeyPath, Registry::kPasswordValueName,
                                      Registry::RegistryValue::FromText(password))
        .code;
}

long ProgramListStore::Commit() { return Registry::SaveStoredItems(keys_.root, keys_.filesKeyPath, items_).code; }

std::wstring ProgramListStore::ErrorWords(long code) const { return SystemErrorText(code); }

std::wstring OwnUserGate::Approve(ConnectionId, const std::wstring& path, ApprovedFolder& approved) {
    AdmissionVerdict verdict = AdmitForOwnUser(path, AdmissionWay{true, treeLimit_});
    approved = verdict.approved;
    return std::move(verdict.refusal);
}

LocalKeeper::LocalKeeper(ItemLocker& locker, ProgramStoreKeys keys, std::size_t treeLimit)
    : store_(std::move(keys)), gate_(treeLimit), keeper_(locker, store_, gate_, hash_) {
    keeper_.ServeOwnProcess();
    keeper_.SetRelockSource([] { return Registry::ReadRelockSettings(); });
}

std::optional<GuardMessage> LocalKeeper::Exchange(const GuardMessage& request) {
    return keeper_.Reply(kWindows, request).message;
}

void LocalKeeper::Begin() {
    store_.Load();
    keeper_.LockStoredItems();
}

void LocalKeeper::SessionLeft() {
    // The windows' connection has no session of its own: it counts as in
    // the one left.
    keeper_.LeaveSession(0);
}

}  // namespace vaultmere
