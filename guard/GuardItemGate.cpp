#include "guard/GuardItemGate.h"

#include <aclapi.h>

#include "common/AppState.h"
#include "common/TextCase.h"
#include "common/UniqueHandle.h"
#include "locker/FolderLane.h"
#include "locker/ItemPath.h"
#include "locker/SystemFolders.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCannotBeLocked[] = L"This item cannot be locked.";
constexpr wchar_t kCriticalFolder[] = L"Cannot lock this critical folder!";
constexpr wchar_t kNetworkFromWindow[] =
    L"Network folders can only be locked by an administrator through the stored list.";
constexpr wchar_t kTreeNotYours[] =
    L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.";

// The folder as the file system names it, found through a handle; "" when
// it cannot be opened.
std::wstring FinalFolderPath(const std::wstring& folder) {
    const UniqueHandle handle(::CreateFileW(ExtendedLengthPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return std::wstring();
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle.Get(), &path[0], static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);
    }
    // Back from \\?\c:\... and \\?\UNC\server\share\... to the form items are parsed to.
    const ItemTarget target = ParseItemPath(
        JoinPath(path.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? L"\\" + path.substr(7) : path.substr(4), L"*.*"));
    return target.kind == ItemTarget::Kind::Refused ? std::wstring() : target.folder;
}

}  // namespace

bool TouchesCriticalFolder(const std::wstring& folder, bool tree, const std::vector<std::wstring>& critical) {
    std::vector<std::wstring> spellings{LowerCase(folder)};
    const std::wstring final = FinalFolderPath(folder);
    if (!final.empty()) spellings.push_back(LowerCase(final));
    for (const std::wstring& each : critical) {
        const std::wstring resolved = FinalFolderPath(each);
        for (const std::wstring& one : {LowerCase(each), LowerCase(resolved)}) {
            if (one.empty()) continue;
            for (const std::wstring& spelling : spellings) {
                if (one == spelling || (tree && FolderWithin(one, spelling))) return true;
            }
        }
    }
    return false;
}

FolderAccess MayListFolder(HANDLE token, const std::wstring& folder) {
    if (!token) return FolderAccess::Unknown;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetNamedSecurityInfoW(ExtendedLengthPath(folder).c_str(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                    DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, nullptr, nullptr, descriptor.Put());
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderAccess::Missing;
    if (error != ERROR_SUCCESS) return FolderAccess::Unknown;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor.Get(), token, FILE_LIST_DIRECTORY, &mapping, &privileges, &privilegesSize, &granted,
                       &allowed)) {
        return FolderAccess::Unknown;
    }
    return allowed && (granted & FILE_LIST_DIRECTORY) ? FolderAccess::Granted : FolderAccess::Denied;
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

std::wstring GuardItemGate::RefusalFor(ConnectionId connection, const std::wstring& path) {
    const ItemKey item = MakeItemKey(path);
    if (item.target.kind == ItemTarget::Kind::Refused) return kCannotBeLocked;
    // The guard runs as the computer: a share a window names would be
    // opened with the computer's rights, not the asking user's.
    if (item.folder.rfind(L"\\\\", 0) == 0) return kNetworkFromWindow;
    std::vector<std::wstring> critical = SystemFolders();
    const std::wstring program = ProgramPath();
    critical.push_back(program.substr(0, program.find_last_of(L'\\')));
    if (TouchesCriticalFolder(item.target.folder, item.tree, critical)) return kCriticalFolder;
    const HANDLE token = tokenOf_ ? tokenOf_(connection) : nullptr;
    std::wstring refusal = FolderAccessRefusal(MayListFolder(token, item.target.folder));
    if (!refusal.empty() || !item.tree) return refusal;
    bool mayListAll = true;
    const std::size_t entries = CountTreeEntries(item.target.folder, treeLimit_, [&](const std::wstring& subfolder) {
        // One gone meanwhile is no refusal.
        const FolderAccess access = MayListFolder(token, subfolder);
        mayListAll = access == FolderAccess::Granted || access == FolderAccess::Missing;
        return mayListAll;
    });
    if (!mayListAll) return kTreeNotYours;
    return entries > treeLimit_ ? kTreeTooLarge : std::wstring();
}

}  // namespace vaultmere
