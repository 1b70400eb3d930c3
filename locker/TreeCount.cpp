#include "locker/TreeCount.h"

#include <vector>

#include "common/UniqueHandle.h"
#include "locker/FolderHandles.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

// Left alone by a tree: hidden files, devices, links of any kind.
constexpr DWORD kNotCounted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
// One handle is open per level: a deeper nest counts as too many, so that
// it cannot use up the handles' reserve, nor pass unchecked.
constexpr std::size_t kCountDepth = 64;

// Opens the subfolder of parent listed as entry. A link put in its place
// since it was listed is found by its attributes or its id, and not
// counted.
UniqueHandle OpenListed(HANDLE parent, const FolderEntry& entry) {
    UniqueHandle folder =
        OpenRelative(parent, entry.name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
    FolderIdentity identity;
    if (!folder || !ReadIdentity(folder.Get(), false, identity) ||
        (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (entry.fileId != 0 && identity.fileId != 0 && identity.fileId != entry.fileId)) {
        return UniqueHandle();
    }
    return folder;
}

// The subfolder name of parent as listed there, when a tree would enter it.
UniqueHandle OpenNamed(HANDLE parent, const std::wstring& name) {
    FolderEntry entry;
    if (!FindEntry(parent, name, entry) || !TreeEnters(entry.attributes)) return UniqueHandle();
    return OpenListed(parent, entry);
}

// Walks from top (a listable handle on the folder at path), depth first.
std::size_t CountFrom(UniqueHandle top, const std::wstring& path, std::size_t most, const TreeEntryCheck& mayTake) {
    struct Level {
        UniqueHandle folder;
        std::wstring path;
        std::vector<FolderEntry> subfolders;
    };
    std::size_t entries = 0;
    bool stopped = false;
    std::vector<Level> levels;
    const auto list = [&](Level level) {
        ListFolder(level.folder.Get(), std::wstring(), [&](const FolderEntry& entry) {
            const bool folder = TreeEnters(entry.attributes);
            if (!folder && (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | kNotCounted))) return true;
            if (mayTake && !mayTake(JoinPath(level.path, entry.name), folder)) {
                stopped = true;
                return false;
            }
            if (folder) level.subfolders.push_back(entry);
            return ++entries <= most;
        });
        levels.push_back(std::move(level));
    };
    list(Level{std::move(top), path, {}});
    while (!levels.empty() && entries <= most && !stopped) {
        Level& deepest = levels.back();
        if (deepest.subfolders.empty()) {
            levels.pop_back();
            continue;
        }
        if (levels.size() >= kCountDepth) return most + 1;
        const FolderEntry entry = std::move(deepest.subfolders.back());
        deepest.subfolders.pop_back();
        // One gone or closed to us meanwhile counts as empty.
        UniqueHandle next = OpenListed(deepest.folder.Get(), entry);
        if (next) list(Level{std::move(next), JoinPath(deepest.path, entry.name), {}});
    }
    return stopped || entries > most ? most + 1 : entries;
}

}  // namespace

bool TreeEnters(DWORD attributes) {
    // A hidden subfolder is left open, as hidden files are.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT));
}

std::size_t CountTree(const std::wstring& folder, std::size_t most, const TreeEntryCheck& mayTake) {
    const std::wstring path = ExtendedLengthPath(folder);
    const std::wstring parentPath = ParentFolder(path);
    const std::wstring root = VolumeRoot(path);
    constexpr DWORD kListable = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!parentPath.empty() && root != path && root != path + L'\\') {
        // As its parent lists it: a hidden folder is counted, a link is not.
        const UniqueHandle parent(::CreateFileW(parentPath.c_str(), kListable, kShared, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FolderEntry entry;
        if (parent && FindEntry(parent.Get(), path.substr(path.find_last_of(L'\\') + 1), entry)) {
            if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) || (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                return 0;
            }
            UniqueHandle top = OpenListed(parent.Get(), entry);
            return top ? CountFrom(std::move(top), folder, most, mayTake) : 0;
        }
    }
    // A drive's or share's root, or a folder whose parent this account may
    // not list: opened itself, a link in its place not followed.
    UniqueHandle top(::CreateFileW(path.c_str(), kListable, kShared, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FolderIdentity identity;
    if (!top || !ReadIdentity(top.Get(), false, identity) || !(identity.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return 0;
    }
    return CountFrom(std::move(top), folder, most, mayTake);
}

std::size_t CountTreeBeneath(HANDLE parent, const std::wstring& name, std::size_t most) {
    UniqueHandle folder = OpenNamed(parent, name);
    return folder ? CountFrom(std::move(folder), name, most, nullptr) : 0;
}

}  // namespace vaultmere
