#pragma once
// Our locking component. Locking an item opens every file it covers with no
// sharing allowed and holds the handles; other programs then cannot open,
// change, rename or delete those files. While an item is locked its folder is
// pinned (it cannot be renamed or deleted) and watched: files that appear in
// it later, and files that were open elsewhere, are locked as soon as they
// can be. Unlocking closes the handles. Locks end with the process.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/ItemLocker.h"

namespace vaultmere {

struct LockerReport {
    std::size_t items = 0;           // distinct items locked
    std::size_t lockedFiles = 0;     // file handles held
    std::size_t pendingFiles = 0;    // files waiting for a retry
    std::size_t folders = 0;         // distinct folders of the locked items
    std::size_t watchedFolders = 0;  // of those, pinned and watched now
    std::size_t watchOverflows = 0;  // times a watch lost count and its folder was listed again
};

// Opens one file the way the component locks it: read access, no sharing,
// not inheritable. Exposed so that benchmarks can compare against it.
UniqueHandle OpenFileLocked(const std::wstring& extendedPath);

// SetItemLocked is called on one thread (the window thread). The component's
// own threads, which run while any item is locked, touch no window.
class FileLocker final : public ItemLocker {
public:
    FileLocker();
    ~FileLocker() override;
    FileLocker(const FileLocker&) = delete;
    FileLocker& operator=(const FileLocker&) = delete;

    // Locking an item that is locked already counts once more and takes the
    // files that appeared since; it stays locked until as many unlocks.
    // Unlocking an item that is not locked does nothing.
    void SetItemLocked(const std::wstring& path, bool locked) override;

    LockerReport Report() const;
    std::vector<ItemStatus> StatusOf(const std::vector<std::wstring>& paths) const override;

private:
    class Engine;
    std::unique_ptr<Engine> engine_;
};

}  // namespace vaultmere
