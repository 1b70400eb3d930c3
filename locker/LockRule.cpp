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
            found.volume = VolumeSerialOf(handle.Get());
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

bool LockRule::MayBeProtected(std::int64_t fileId) const {
    return fileId != 0 && std::any_of(protected_.begin(), protected_.end(),
                                      [fileId](const FolderIdentity& each) { return each.fileId == fileId; });
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
    if (!handle || !ReadIdentity(handle.Get(), true, identity, DriveOf(target.folder))) {
        identity.path = LowerCase(target.folder);
    } else {
        identity.volume = VolumeSerialOf(handle.Get());
    }
    return Allows(identity, withSubfolders);
}

namespace {

// The most files indexed beneath the protected folders: past it, the rest
// counts as protected.
constexpr std::size_t kMostProtectedFiles = 1000000;

// The ids of the files beneath folder, no link followed, into ids; false
// when the folder could not be read or held too many.
bool IndexFiles(const std::wstring& folder, std::unordered_set<std::int64_t>& ids) {
    std::vector<std::wstring> pending{ExtendedLengthPath(folder)};
    bool complete = true;
    while (!pending.empty()) {
        const std::wstring path = std::move(pending.back());
        pending.pop_back();
        const UniqueHandle handle(
            ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const UniqueHandle listing = handle ? ReopenForListing(handle.Get()) : UniqueHandle();
        const DWORD listed = !listing ? ::GetLastError()
                                      : ListFolder(listing.Get(), std::wstring(), [&](const FolderEntry& entry) {
                                            if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
                                            if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                                                pending.push_back(path + L'\\' + entry.name);
                                            } else if (entry.fileId != 0) {
                                                ids.insert(entry.fileId);
                                            }
                                            return ids.size() < kMostProtectedFiles;
                                        });
        if (listed != ERROR_SUCCESS && path.size() == ExtendedLengthPath(folder).size()) complete = false;
        if (ids.size() >= kMostProtectedFiles) return false;
    }
    return complete;
}

}  // namespace

BOOL CALLBACK LockRule::IndexProtectedFiles(PINIT_ONCE /*once*/, PVOID self, PVOID* /*context*/) {
    LockRule& rule = *static_cast<LockRule*>(self);
    for (const FolderIdentity& folder : rule.protected_) {
        // One inside another is listed with it.
        if (std::any_of(rule.protected_.begin(), rule.protected_.end(), [&](const FolderIdentity& other) {
                return other.path != folder.path && FolderWithin(folder.path, other.path);
            })) {
            continue;
        }
        const UniqueHandle handle(::CreateFileW(ExtendedLengthPath(folder.path).c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const std::uint32_t volume = handle ? VolumeSerialOf(handle.Get()) : 0;
        const bool known = volume != 0;
        auto& ids = rule.protectedFiles_[volume];
        // Id 0 stands for every file: a folder that could not be listed
        // whole protects its whole volume, and an unknown volume all.
        if (!known || !IndexFiles(folder.path, ids)) ids.insert(0);
    }
    return TRUE;
}

bool LockRule::IsProtectedFile(HANDLE file) const {
    const std::uint32_t serial = VolumeSerialOf(file);
    const std::int64_t id = FileIdOf(file);
    if (serial == 0 || id == 0) return true;
    ::InitOnceExecuteOnce(&indexed_, &LockRule::IndexProtectedFiles, const_cast<LockRule*>(this), nullptr);
    const auto volume = protectedFiles_.find(serial);
    if (volume == protectedFiles_.end()) return protectedFiles_.count(0) != 0;
    return volume->second.count(0) != 0 || volume->second.count(id) != 0;
}

bool LockRule::AllowsLinkedFile(HANDLE file) const {
    std::vector<std::int64_t> parents;
    // Where the system cannot list the names (Wine cannot), the file is
    // judged by its identity instead.
    if (!LinkParents(file, parents)) return !IsProtectedFile(file);
    for (const std::int64_t parent : parents) {
        FILE_ID_DESCRIPTOR id{};
        id.dwSize = sizeof id;
        id.Type = FileIdType;
        id.FileId.QuadPart = parent;
        const UniqueHandle folder(::OpenFileById(file, &id, FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 FILE_FLAG_BACKUP_SEMANTICS));
        FolderIdentity identity;
        if (!folder || !ReadIdentity(folder.Get(), true, identity)) return false;
        identity.volume = VolumeSerialOf(folder.Get());
        if (!Allows(identity, false)) return false;
    }
    return true;
}

}  // namespace vaultmere
