#pragma once
// Our locking component. Locking an item opens every file it covers with no
// sharing allowed and holds the handles; other programs then cannot open,
// change, rename or delete those files. Unlocking closes the handles. Locks
// end with the process.
#include <windows.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/ItemLocker.h"
#include "locker/ItemPath.h"

namespace vaultmere {

struct LockerReport {
    std::size_t items = 0;         // distinct items locked
    std::size_t lockedFiles = 0;   // file handles held
    std::size_t pendingFiles = 0;  // files waiting for a retry
};

// Opens one file the way the component locks it: read access, no sharing,
// not inheritable. Exposed so that benchmarks can compare against it.
UniqueHandle OpenFileLocked(const std::wstring& extendedPath);

class FileLocker final : public ItemLocker {
public:
    FileLocker() = default;
    FileLocker(const FileLocker&) = delete;
    FileLocker& operator=(const FileLocker&) = delete;

    // Locking an item that is locked already counts once more and takes the
    // files that appeared since; it stays locked until as many unlocks.
    // Unlocking an item that is not locked does nothing.
    void SetItemLocked(const std::wstring& path, bool locked) override;

    LockerReport Report() const;

private:
    struct LockedItem {
        unsigned lockCount = 0;
        std::vector<UniqueHandle> files;
    };

    static std::wstring ItemKey(const ItemTarget& target);
    static void LockFiles(const ItemTarget& target, LockedItem& item);

    std::unordered_map<std::wstring, LockedItem> items_;
};

}  // namespace vaultmere
