#include "guard/GuardService.h"

#include <algorithm>

#include "locker/ItemPath.h"
#include "store/Registry.h"

namespace vaultmere {

std::vector<std::wstring> RegistryGuardStore::ReadItems() {
    return Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
}

bool RegistryGuardStore::ReadItems(std::vector<std::wstring>& items) {
    return static_cast<bool>(Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items));
}

long RegistryGuardStore::SaveItems(const std::vector<std::wstring>& items) {
    if (!items.empty()) {
        const Registry::RegistryStatus created =
            Registry::CreateProtectedKey(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath, Registry::kFilesKeyName);
        if (!created) return created.code;
    }
    return Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items).code;
}

std::wstring RegistryGuardStore::ReadPassword() {
    return Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName)
        .ToText();
}

long RegistryGuardStore::SavePassword(const std::wstring& password) {
    // Never written where users may read it.
    const Registry::RegistryStatus created = Registry::CreateProtectedKey(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath,
                                                                          Registry::kSettingsKeyName);
    if (!created) return created.code;
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName,
                                      Registry::RegistryValue::FromText(password))
        .code;
}

namespace {

// How long the stored list must be left alone before a change is applied:
// longer than the steps of one rewrite take, short enough to seem at once.
constexpr DWORD kStoreQuietMs = 500;

void ProtectStoreKey() {
    // A failure is met again at the next change, and a save that cannot
    // protect its key refuses to write.
    Registry::ProtectKeyTree(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath, false);
}

std::vector<std::wstring> FoldersOf(const std::vector<std::wstring>& items) {
    std::vector<std::wstring> folders;
    for (const std::wstring& item : items) {
        const ItemKey key = MakeItemKey(item);
        if (!key.folder.empty()) folders.push_back(key.folder);
    }
    return folders;
}

}  // namespace

GuardService::GuardService()
    : ServiceBase(kGuardServiceName),
      gate_([this](ConnectionId connection) { return server_.ClientToken(connection); }),
      core_(locker_, store_, gate_),
      server_(kGuardPipeName, GuardPipeServer::Callbacks{[this](ConnectionId connection, const std::wstring& user) {
                                                             std::lock_guard<std::mutex> hold(lock_);
                                                             core_.Connect(connection, user);
                                                         },
                                                         [this](ConnectionId connection, const Bytes& message) {
                                                             return Answer(connection, message);
                                                         },
                                                         [this](ConnectionId connection) {
                                                             std::lock_guard<std::mutex> hold(lock_);
                                                             core_.Disconnect(connection);
                                                         }}),
      // Keys made anew get their descriptor at once; the list waits until
      // it is whole.
      watch_(Registry::kStoreKeyPath, kStoreQuietMs,
             StoreWatch::Callbacks{&ProtectStoreKey, [this] { ApplyStoredList(); }}) {
    locker_.OnRefused([this](const std::wstring& folder) { events_.FolderRefused(folder); });
}

GuardService::~GuardService() = default;

DWORD GuardService::OnStart() {
    notices_ = std::make_unique<VolumeNotices>(StatusHandle(), DEVICE_NOTIFY_SERVICE_HANDLE);
    // Running at once: items on the network may take long to answer at boot.
    starter_.Reset(::CreateThread(nullptr, 0, &GuardService::LockInBackground, this, 0, nullptr));
    return starter_ ? NO_ERROR : ::GetLastError();
}

DWORD WINAPI GuardService::LockInBackground(void* self) {
    auto& service = *static_cast<GuardService*>(self);
    ProtectStoreKey();
    {
        std::lock_guard<std::mutex> hold(service.lock_);
        service.core_.LockStoredItems();
        service.WatchVolumes(false);
    }
    service.watch_.Start();
    return service.server_.Start();
}

void GuardService::OnStop() {
    if (starter_) ::WaitForSingleObject(starter_.Get(), INFINITE);
    watch_.Stop();
    server_.Stop();
    std::lock_guard<std::mutex> hold(lock_);
    if (notices_) notices_->Clear();
    core_.ReleaseAll();
}

void GuardService::WatchVolumes(bool onlyNew) {
    if (!notices_) return;
    std::vector<std::wstring> folders = FoldersOf(core_.Items());
    if (onlyNew) {
        const std::vector<std::wstring> roots = notices_->Roots();
        folders.erase(std::remove_if(folders.begin(), folders.end(),
                                     [&roots](const std::wstring& folder) {
                                         return std::any_of(
                                             roots.begin(), roots.end(), [&folder, &roots](const auto& root) {
                                                 return !ItemsOnVolume({JoinPath(folder, L"*.*")}, root, roots).empty();
                                             });
                                     }),
                      folders.end());
    }
    notices_->Watch(folders);
}

DWORD GuardService::OnDeviceEvent(DWORD eventType, void* eventData) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!notices_) return NO_ERROR;
    const VolumeNotices::Notice notice = notices_->Take(eventType, eventData);
    std::vector<std::wstring> roots = notices_->Roots();
    roots.push_back(notice.root);
    switch (notice.kind) {
    case VolumeNotices::Notice::Kind::QueryRemove:
        // The files go before this returns, so that the drive can go.
        core_.ReleaseItems(ItemsOnVolume(core_.Items(), notice.root, roots));
        break;
    case VolumeNotices::Notice::Kind::RemoveFailed:
    case VolumeNotices::Notice::Kind::Removed:
        // Staying, the drive is locked again; gone, the locker notes its
        // items not reachable and locks them when it comes back.
        core_.RestoreItems(ItemsOnVolume(core_.Items(), notice.root, roots));
        break;
    case VolumeNotices::Notice::Kind::Arrived:
        WatchVolumes(true);
        lookForVolumesUntil_ = ::GetTickCount64() + kLookForVolumesMs;
        break;
    case VolumeNotices::Notice::Kind::None:
        break;
    }
    return NO_ERROR;
}

void GuardService::ApplyStoredList() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::wstring> items;
    // A list that cannot be read is not taken for an empty one.
    if (!store_.ReadItems(items)) return;
    if (core_.ApplyStoredItems(items)) WatchVolumes(true);
}

PipeAnswer GuardService::Answer(ConnectionId connection, const Bytes& message) {
    const auto request = DecodeGuardMessage(message.data(), message.size());
    if (!request || !IsGuardRequest(request->kind)) return Bytes();
    GuardReply reply;
    std::wstring user;
    {
        std::lock_guard<std::mutex> hold(lock_);
        reply = core_.Reply(connection, *request);
        user = core_.UserOf(connection);
        // A drive plugged in again may have had no letter yet when it was
        // announced: for a while after, a window reading the lists looks
        // again. Not always: each look asks for the volume of every folder.
        if ((request->kind == GuardMessageKind::ReadLists && ::GetTickCount64() < lookForVolumesUntil_) ||
            (request->kind == GuardMessageKind::LockFolder && reply.message == GuardMessage::Done(true))) {
            WatchVolumes(true);
        }
    }
    if (reply.message == GuardMessage::Refusal(GuardRefusal::WrongPassword)) {
        // Nothing to do when the entry cannot be written; the wait holds.
        events_.WrongPassword(user);
    }
    Bytes answer = EncodeGuardMessage(reply.message);
    if (answer.empty()) answer = EncodeGuardMessage(GuardMessage::Refusal(GuardRefusal::TooLarge));
    return PipeAnswer(std::move(answer), static_cast<DWORD>(reply.holdMs));
}

}  // namespace vaultmere
