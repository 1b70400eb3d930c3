#include "guard/GuardItemGate.h"

#include <aclapi.h>

#include "common/LockBudget.h"
#include "common/TextCase.h"
#include "common/UniqueHandle.h"
#include "locker/ItemPath.h"
#include "locker/LockRule.h"
#include "locker/TreeCount.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCannotBeLocked[] = L"This item cannot be locked.";
constexpr wchar_t kCriticalFolder[] = L"Cannot lock this critical folder!";
constexpr wchar_t kNetworkFromWindow[] =
    L"Network folders can only be locked by an administrator through the stored list.";
constexpr wchar_t kFilesNotYours[] = L"You may not read every file in this folder, so it cannot be locked for you.";
constexpr wchar_t kThroughLink[] =
    L"This folder is reached through a link (a junction or a symbolic link), so it cannot be locked. Choose the "
    L"folder the link leads to.";
constexpr wchar_t kTreeNotYours[] =
    L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.";

// Whether a file the user asks to lock is one the user may read; one gone
// meanwhile is no refusal.
bool MayRead(HANDLE token, const std::wstring& file) {
    const FolderAccess access = MayAccess(token, file, FILE_READ_DATA);
    return access == FolderAccess::Granted || access == FolderAccess::Missing;
}

// The files directly in folder that a plain item of pattern covers.
bool MayReadEvery(HANDLE token, const std::wstring& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW(ExtendedLengthPath(JoinPath(folder, pattern)).c_str(), FindExInfoBasic,
                                               &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return true;
    do {
        constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE |
                                     FILE_ATTRIBUTE_REPARSE_POINT;
        if (!(found.dwFileAttributes & kNotLocked) && !MayRead(token, JoinPath(folder, found.cFileName))) return false;
    } while (::FindNextFileW(search.Get(), &found));
    return true;
}

}  // namespace

namespace {

constexpr SECURITY_INFORMATION kAccessParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                              DACL_SECURITY_INFORMATION;

// What token is granted by a descriptor read with error.
FolderAccess AccessBy(HANDLE token, DWORD error, PSECURITY_DESCRIPTOR descriptor, DWORD access) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderAccess::Missing;
    if (error != ERROR_SUCCESS) return FolderAccess::Unknown;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor, token, access, &mapping, &privileges, &privilegesSize, &granted, &allowed)) {
        return FolderAccess::Unknown;
    }
    return allowed && (granted & access) == access ? FolderAccess::Granted : FolderAccess::Denied;
}

}  // namespace

FolderAccess MayListFolder(HANDLE token, const std::wstring& folder) {
    return MayAccess(token, folder, FILE_LIST_DIRECTORY);
}

FolderAccess MayListFolder(HANDLE token, HANDLE folder) {
    if (!token) return FolderAccess::Unknown;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetSecurityInfo(folder, SE_FILE_OBJECT, kAccessParts, nullptr, nullptr, nullptr, nullptr,
                                          descriptor.Put());
    return AccessBy(token, error, descriptor.Get(), FILE_LIST_DIRECTORY);
}

FolderAccess MayAccess(HANDLE token, const std::wstring& path, DWORD access) {
    if (!token) return FolderAccess::Unknown;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetNamedSecurityInfoW(ExtendedLengthPath(path).c_str(), SE_FILE_OBJECT, kAccessParts, nullptr,
                                                nullptr, nullptr, nullptr, descriptor.Put());
    return AccessBy(token, error, descriptor.Get(), access);
}

std::wstring FolderAccessRefusal(FolderAccess access) {
    switch (access) {
    case FolderAccess::Granted:
        return std::wstring();
    case FolderAccess::Denied:
        return L"You may not open this folder, so it cannot be locked for you.";
    case FolderAccess::Missing:
        return L"This folder cannot be found, so it cannot be locked.";
    case FolderAccess::Unknown:
        break;
    }
    return L"Whether you may open this folder cannot be checked, so it cannot be locked for you.";
}

std::wstring GuardItemGate::Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) {
    approved = ApprovedFolder();
    const ItemKey item = MakeItemKey(path);
    if (item.target.kind == ItemTarget::Kind::Refused) return kCannotBeLocked;
    // The guard runs as the computer: a share a window names would be
    // opened with the computer's rights, not the asking user's.
    if (item.folder.rfind(L"\\\\", 0) == 0) return kNetworkFromWindow;
    const UniqueHandle opened(::CreateFileW(ExtendedLengthPath(item.target.folder).c_str(),
                                            READ_CONTROL | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD openError = opened ? ERROR_SUCCESS : ::GetLastError();
    // One that cannot be opened is judged by its name: whoever asks, a
    // system folder is refused before anything else is said of it.
    FolderIdentity identity;
    if (!opened || !ReadIdentity(opened.Get(), true, identity, DriveOf(item.target.folder))) {
        identity.path = LowerCase(item.target.folder);
    } else {
        identity.volume = VolumeSerialOf(opened.Get());
    }
    if (!LockRule().Allows(identity, item.tree)) return kCriticalFolder;
    if (opened && !ReachedWithoutLinks(item.target.folder, identity)) return kThroughLink;
    const HANDLE token = tokenOf_ ? tokenOf_(connection) : nullptr;
    const bool gone = openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND;
    const FolderAccess access = opened          ? MayListFolder(token, opened.Get())
                                : token && gone ? FolderAccess::Missing
                                                : FolderAccess::Unknown;
    std::wstring refusal = FolderAccessRefusal(access);
    if (!refusal.empty()) return refusal;
    if (identity.fileId == 0) return FolderAccessRefusal(FolderAccess::Unknown);
    const auto accept = [&] {
        approved.fileId = identity.fileId;
        approved.volume = identity.volume;
        return std::wstring();
    };
    if (!item.tree) {
        const bool file = item.target.kind == ItemTarget::Kind::File;
        if (file ? !MayRead(token, JoinPath(item.target.folder, item.target.name))
                 : !MayReadEvery(token, item.target.folder, item.target.name)) {
            return kFilesNotYours;
        }
        return accept();
    }
    bool mayListAll = true;
    bool mayReadAll = true;
    const std::size_t entries = CountTree(item.target.folder, treeLimit_, [&](const std::wstring& entry, bool folder) {
        if (!folder) return mayReadAll = MayRead(token, entry);
        // One gone meanwhile is no refusal.
        const FolderAccess access = MayListFolder(token, entry);
        mayListAll = access == FolderAccess::Granted || access == FolderAccess::Missing;
        return mayListAll;
    });
    if (!mayListAll) return kTreeNotYours;
    if (!mayReadAll) return kFilesNotYours;
    return entries > treeLimit_ ? TreeTooLargeText(treeLimit_) : accept();
}

}  // namespace vaultmere
