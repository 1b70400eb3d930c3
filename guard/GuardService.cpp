#include "guard/GuardService.h"

#include "common/AppState.h"
#include "common/TextCase.h"
#include "locker/ItemPath.h"
#include "locker/SystemFolders.h"
#include "store/Registry.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCannotBeLocked[] = L"This item cannot be locked.";
constexpr wchar_t kCriticalFolder[] = L"Cannot lock this critical folder!";
constexpr wchar_t kNetworkFromWindow[] =
    L"Network folders can only be locked by an administrator through the stored list.";

}  // namespace

std::vector<std::wstring> RegistryGuardStore::ReadItems() {
    return Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
}

long RegistryGuardStore::SaveItems(const std::vector<std::wstring>& items) {
    return Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items).code;
}

std::wstring RegistryGuardStore::ReadPassword() {
    return Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName)
        .ToText();
}

long RegistryGuardStore::SavePassword(const std::wstring& password) {
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName,
                                      Registry::RegistryValue::FromText(password))
        .code;
}

std::wstring GuardItemGate::RefusalFor(ConnectionId, const std::wstring& path) {
    const ItemKey item = MakeItemKey(path);
    if (item.target.kind == ItemTarget::Kind::Refused) return kCannotBeLocked;
    // The guard runs as the computer: a share a window names would be
    // opened with the computer's rights, not the asking user's.
    if (item.folder.rfind(L"\\\\", 0) == 0) return kNetworkFromWindow;
    std::vector<std::wstring> critical = SystemFolders();
    const std::wstring program = ProgramPath();
    critical.push_back(program.substr(0, program.find_last_of(L'\\')));
    for (const std::wstring& folder : critical) {
        if (LowerCase(folder) == item.folder) return kCriticalFolder;
    }
    return std::wstring();
}

GuardService::GuardService()
    : ServiceBase(kGuardServiceName),
      core_(locker_, store_, gate_),
      server_(kGuardPipeName,
              GuardPipeServer::Callbacks{
                  [this](ConnectionId connection, const std::wstring&) { core_.Connect(connection); },
                  [this](ConnectionId connection, const Bytes& message) { return Answer(connection, message); },
                  [this](ConnectionId connection) { core_.Disconnect(connection); }}) {}

GuardService::~GuardService() = default;

DWORD GuardService::OnStart() {
    // Running at once: items on the network may take long to answer at boot.
    starter_.Reset(::CreateThread(nullptr, 0, &GuardService::LockInBackground, this, 0, nullptr));
    return starter_ ? NO_ERROR : ::GetLastError();
}

DWORD WINAPI GuardService::LockInBackground(void* self) {
    auto& service = *static_cast<GuardService*>(self);
    service.core_.LockStoredItems();
    // The pipe opens once the list is held, so that the core is only ever
    // used by one thread at a time.
    return service.server_.Start();
}

void GuardService::OnStop() {
    if (starter_) ::WaitForSingleObject(starter_.Get(), INFINITE);
    server_.Stop();
    core_.ReleaseAll();
}

Bytes GuardService::Answer(ConnectionId connection, const Bytes& message) {
    const auto request = DecodeGuardMessage(message.data(), message.size());
    if (!request || !IsGuardRequest(request->kind)) return Bytes();
    Bytes answer = EncodeGuardMessage(core_.Handle(connection, *request));
    if (answer.empty()) answer = EncodeGuardMessage(GuardMessage::Refusal(GuardRefusal::TooLarge));
    return answer;
}

}  // namespace vaultmere
