#include "locker/FileLocker.h"

#include "common/TextCase.h"

namespace vaultmere {

UniqueHandle OpenFileLocked(const std::wstring& extendedPath) {
    // No SECURITY_ATTRIBUTES: the handle is not inheritable, so no child
    // process can keep a lock alive after the program ends.
    return UniqueHandle(::CreateFileW(extendedPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring FileLocker::ItemKey(const ItemTarget& target) {
    return LowerCase(JoinPath(target.folder, target.name));
}

void FileLocker::LockFiles(const ItemTarget& target, LockedItem& item) {
    const std::wstring folder = ExtendedLengthPath(target.folder);
    if (target.kind == ItemTarget::Kind::File) {
        // Directories fail to open without backup semantics, so only a file
        // is ever taken.
        UniqueHandle file = OpenFileLocked(JoinPath(folder, target.name));
        if (file) item.files.push_back(std::move(file));
        return;
    }

    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW(JoinPath(folder, target.name).c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return;
    std::wstring filePath = JoinPath(folder, std::wstring());
    const size_t folderLength = filePath.size();
    do {
        constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE;
        if (found.dwFileAttributes & kNotLocked) continue;
        filePath.resize(folderLength);
        filePath += found.cFileName;
        // A file open elsewhere without sharing, or one we hold already from
        // an earlier lock of this item, fails here and is skipped.
        UniqueHandle file = OpenFileLocked(filePath);
        if (file) item.files.push_back(std::move(file));
    } while (::FindNextFileW(search.Get(), &found));
}

void FileLocker::SetItemLocked(const std::wstring& path, bool locked) {
    const ItemTarget target = ParseItemPath(path);
    if (target.kind == ItemTarget::Kind::Refused) return;
    const std::wstring key = ItemKey(target);

    if (locked) {
        LockedItem& item = items_[key];
        ++item.lockCount;
        LockFiles(target, item);
        return;
    }

    const auto it = items_.find(key);
    if (it == items_.end()) return;
    if (--it->second.lockCount == 0) items_.erase(it);
}

LockerReport FileLocker::Report() const {
    LockerReport report;
    report.items = items_.size();
    for (const auto& entry : items_) report.lockedFiles += entry.second.files.size();
    return report;
}

}  // namespace vaultmere
