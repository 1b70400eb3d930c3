#include "app/LocalKeeper.h"

#include "common/SecureText.h"
#include "common/SystemError.h"
#include "locker/DiskAdmission.h"
#include "store/RelockStore.h"

namespace vaultmere {

ProgramListStore::~ProgramListStore() { WipeText(password_); }

void ProgramListStore::Load() {
    items_.clear();
    const Registry::RegistryStatus list = Registry::ReadStoredItems(keys_.root, keys_.filesKeyPath, items_);
    itemsError_ = list ? ERROR_SUCCESS : list.code;
    if (itemsError_ != ERROR_SUCCESS) items_.clear();
    itemsChanged_ = false;
    Registry::RegistryValue stored;
    const Registry::RegistryStatus read = Registry::ReadRegistryValue(keys_.root, keys_.settingsKeyPath,
                                                                      Registry::kPasswordValueName, stored);
    WipeText(password_);
    password_ = stored.ToText();
    passwordError_ = read || read.code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : read.code;
}

long ProgramListStore::ReadItems(std::vector<std::wstring>& items) {
    items = items_;
    return itemsError_;
}

long ProgramListStore::SaveItems(const std::vector<std::wstring>& items) {
    if (itemsError_ != ERROR_SUCCESS) return itemsError_;
    itemsChanged_ = itemsChanged_ || items != items_;
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

long ProgramListStore::Commit() {
    // Only a change is written: a Close with none leaves the stored list
    // (and whatever else wrote it meanwhile) alone.
    if (itemsError_ != ERROR_SUCCESS || !itemsChanged_) return ERROR_SUCCESS;
    const long code = Registry::SaveStoredItems(keys_.root, keys_.filesKeyPath, items_).code;
    if (code == ERROR_SUCCESS) itemsChanged_ = false;
    return code;
}

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
    // Through the same format as to the guard, so the same limits hold; the
    // request may hold a password.
    std::vector<unsigned char> asked = EncodeGuardMessage(request);
    std::optional<GuardMessage> decoded;
    if (!asked.empty()) decoded = DecodeGuardMessage(asked.data(), asked.size());
    WipeBytes(asked);
    if (!decoded) return std::nullopt;
    const GuardMessage reply = keeper_.Reply(kWindows, *decoded).message;
    WipeText(decoded->text);
    std::vector<unsigned char> answer = EncodeGuardMessage(reply);
    if (answer.empty()) answer = EncodeGuardMessage(GuardMessage::Refusal(GuardRefusal::TooLarge));
    return DecodeGuardMessage(answer.data(), answer.size());
}

std::wstring LocalKeeper::Problem() const {
    if (store_.ListError() == ERROR_SUCCESS) return std::wstring();
    return L"The list of locked items cannot be read (" + store_.ErrorWords(store_.ListError()) +
           L"). Nothing is locked, and the list is left as it is.";
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
