#include "locker/LockRule.h"

#include <algorithm>

#include "common/AppState.h"
#include "common/TextCase.h"
#include "locker/ItemPath.h"
#include "locker/SystemFolders.h"

namespace vaultmere {

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
        }
        protected_.push_back(std::move(named));
    }
}

bool LockRule::IsProtected(const FolderIdentity& folder) const {
    // Some network file systems number nothing.
    if (folder.fileId == 0) return false;
    return std::any_of(protected_.begin(), protected_.end(), [&](const FolderIdentity& each) {
        // Ids are unique on a volume: compared on the same drive, or where
        // a drive is not known.
        return each.fileId == folder.fileId &&
               (each.path.empty() || folder.path.empty() || DriveOf(each.path) == DriveOf(folder.path));
    });
}

bool LockRule::Allows(const FolderIdentity& folder, bool withSubfolders) const {
    if (folder.path.empty() || IsProtected(folder)) return false;
    return std::none_of(protected_.begin(), protected_.end(), [&](const FolderIdentity& each) {
        return FolderWithin(folder.path, each.path) || (withSubfolders && FolderWithin(each.path, folder.path));
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
