#include "locker/LockRule.h"

// iphlpapi.h needs the socket headers before it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <lm.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/AppState.h"
#include "common/SystemFunction.h"
#include "common/TextCase.h"
#include "locker/ItemPath.h"
#include "locker/SystemFolders.h"
#include "locker/ThisComputer.h"

namespace vaultmere {

namespace {

void AddAddresses(ThisComputer& computer) {
    // Not a KnownDLL: never imported, only loaded from the system folder.
    const UniqueModule module(::LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const auto getAddresses = SystemFunction<decltype(&::GetAdaptersAddresses)>(module.Get(), "GetAdaptersAddresses");
    if (!getAddresses) return;
    ULONG bytes = 16 * 1024;
    std::vector<ULONGLONG> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the calls.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(bytes / sizeof(ULONGLONG) + 1, 0);
        result = getAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                              nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &bytes);
    }
    if (result != NO_ERROR) return;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* each = adapter->FirstUnicastAddress; each; each = each->Next) {
            const SOCKADDR* socket = each->Address.lpSockaddr;
            HostAddress address{};
            if (socket && socket->sa_family == AF_INET) {
                address[10] = 0xFF;
                address[11] = 0xFF;
                std::memcpy(&address[12], &reinterpret_cast<const sockaddr_in*>(socket)->sin_addr, 4);
            } else if (socket && socket->sa_family == AF_INET6) {
                std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(socket)->sin6_addr, 16);
            } else {
                continue;
            }
            computer.addresses.push_back(address);
        }
    }
}

// Read at each look: an address may change while the guard runs.
ThisComputer ReadThisComputer() {
    ThisComputer computer;
    for (const COMPUTER_NAME_FORMAT format :
         {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified, ComputerNamePhysicalNetBIOS,
          ComputerNamePhysicalDnsHostname, ComputerNamePhysicalDnsFullyQualified}) {
        DWORD size = 0;
        ::GetComputerNameExW(format, nullptr, &size);
        std::wstring name(size, L'\0');
        if (size == 0 || !::GetComputerNameExW(format, &name[0], &size)) continue;
        name.resize(size);
        if (!name.empty()) computer.names.push_back(std::move(name));
    }
    AddAddresses(computer);
    return computer;
}

// The local folder a disk share of this computer stands for; "" when the
// system cannot say (no such share, no right to ask: level 2 is for
// administrators and the system).
std::wstring ShareFolder(const std::wstring& share) {
    const UniqueModule module(::LoadLibraryExW(L"netapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const auto getInfo = SystemFunction<decltype(&::NetShareGetInfo)>(module.Get(), "NetShareGetInfo");
    const auto freeBuffer = SystemFunction<decltype(&::NetApiBufferFree)>(module.Get(), "NetApiBufferFree");
    if (!getInfo || !freeBuffer) return std::wstring();
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = getInfo(nullptr, const_cast<LPWSTR>(share.c_str()), 2, &buffer);
    const std::unique_ptr<BYTE, decltype(freeBuffer)> owned(buffer, freeBuffer);
    if (status != NERR_Success || !owned) return std::wstring();
    const auto* info = reinterpret_cast<const SHARE_INFO_2*>(owned.get());
    // The low byte is the kind (STYPE_MASK, which not every SDK declares).
    if ((info->shi2_type & 0xFFu) != STYPE_DISKTREE || !info->shi2_path) return std::wstring();
    return info->shi2_path;
}

}  // namespace

std::vector<std::wstring> ProtectedFolders() {
    std::vector<std::wstring> folders = SystemFolders();
    const std::wstring program = ProgramFolder();
    if (!program.empty()) folders.push_back(program);
    return folders;
}

LockRule::LockRule() : LockRule(ProtectedFolders()) {}

LockRule::LockRule(const std::vector<std::wstring>& protectedFolders) {
    for (const std::wstring& folder : protectedFolders) {
        const ItemTarget target = ParseItemPath(JoinPath(folder, L"*.*"));
        if (target.kind == ItemTarget::Kind::Refused) continue;
        // Compared as written and as the file system names it.
        FolderIdentity named;
        named.path = LowerCase(target.folder);
        const UniqueHandle handle(::CreateFileW(ExtendedLengthPath(target.folder).c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FolderIdentity found;
        if (handle && ReadIdentity(handle.Get(), true, found, DriveOf(target.folder))) {
            if (!found.path.empty() && found.path != named.path) protected_.push_back(found);
            named.fileId = found.fileId;
            named.volume = found.volume;
        }
        protected_.push_back(std::move(named));
    }
}

bool LockRule::IsProtected(const FolderIdentity& folder) const {
    // Some network file systems number nothing.
    if (folder.fileId == 0) return false;
    return std::any_of(protected_.begin(), protected_.end(), [&](const FolderIdentity& each) {
        // Ids are unique on a volume, whatever path reached it: compared
        // on the same volume, or where a volume is not known.
        return each.fileId == folder.fileId && (each.volume == 0 || folder.volume == 0 || each.volume == folder.volume);
    });
}

bool LockRule::Allows(const FolderIdentity& folder, bool withSubfolders) const {
    if (folder.path.empty() || IsProtected(folder)) return false;
    std::wstring path = folder.path;
    // A share of this computer is judged as the folder it leads to; one
    // that leads nobody knows where is refused.
    if (path.compare(0, 2, L"\\\\") == 0) {
        const NetworkLead lead = LeadOf(path, ReadThisComputer(), &ShareFolder);
        if (lead.kind == NetworkLead::Kind::Unknown) return false;
        if (lead.kind == NetworkLead::Kind::Local) path = LowerCase(lead.folder);
    }
    return std::none_of(protected_.begin(), protected_.end(), [&](const FolderIdentity& each) {
        return FolderWithin(path, each.path) || (withSubfolders && FolderWithin(each.path, path));
    });
}

bool LockRule::AllowsFolder(const std::wstring& folder, bool withSubfolders) const {
    const ItemTarget target = ParseItemPath(JoinPath(folder, L"*.*"));
    if (target.kind == ItemTarget::Kind::Refused) return false;
    const UniqueHandle handle(::CreateFileW(ExtendedLengthPath(target.folder).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FolderIdentity identity;
    // One that cannot be opened is judged by its name: the locker judges
    // it again once it is there.
    if (!handle || !ReadIdentity(handle.Get(), true, identity, DriveOf(target.folder)))
        identity.path = LowerCase(target.folder);
    return Allows(identity, withSubfolders);
}

UniqueHandle PinFolder(const std::wstring& extendedPath) {
    // Others may list the folder and add, change and remove files in it, but
    // not rename or delete the folder itself while we hold this.
    return UniqueHandle(::CreateFileW(extendedPath.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
}

}  // namespace vaultmere
