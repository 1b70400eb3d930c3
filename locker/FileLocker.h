#pragma once
// Our locking component. Locking an item opens every file it covers with no
// sharing allowed and holds the handles; other programs then cannot open,
// rename or delete those files, nor change their contents. While an item is
// locked its folder is pinned (it cannot be renamed or deleted) and watched:
// files that appear in it later, and files that were open elsewhere, are
// locked as soon as they can be. An item in the form TreeItem gives is a
// folder with every file and subfolder beneath it (up to the budget's tree
// limit of them): each of its folders is pinned and watched the same way, subfolders
// that appear are taken in, hidden ones and links are left alone. Unlocking
// closes the handles. Locks end with the process.
//
// Three parts: LockerState, plain data changed only under one mutex and
// never waiting on a disk; FolderLane, the listing, opening and watching,
// one lane (thread) per drive or share, outside the mutex; and this class,
// which parses an item once where it comes in and hands work between them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "locker/FolderLane.h"
#include "locker/ItemLocker.h"
#include "locker/LockerState.h"

namespace vaultmere {

class FileLocker final : public ItemLocker {
public:
    // budget is the platform's default unless given (the guard and the
    // program read it with ReadLockBudget); open takes the place of
    // OpenFileLocked (tests). Nothing is locked that LockRule refuses.
    FileLocker() : FileLocker(PlatformLockBudget()) {}
    explicit FileLocker(const LockBudget& budget);
    explicit FileLocker(FileOpener open, const LockBudget& budget = PlatformLockBudget());
    // Bounded: a lane stuck on a network call is left behind; it closes
    // what it opens once the call returns and touches nothing of this.
    ~FileLocker() override;
    FileLocker(const FileLocker&) = delete;
    FileLocker& operator=(const FileLocker&) = delete;

    // Locking an item that is locked already counts once more and takes the
    // files that appeared since; it stays locked until as many unlocks.
    // Unlocking an item that is not locked does nothing. Locking returns at
    // once and the item's lane locks its files just after; unlocking lets
    // the files go before it returns.
    void SetItemLocked(const Item& item, bool locked) override;
    void SetItemsKnown(std::size_t items) override;
    void LockApproved(const Item& item, const ApprovedFolder& approved) override;
    std::vector<ItemStatus> StatusOf(const std::vector<Item>& items) const override;

    // Told of each folder the rule refuses, on a lane's thread, outside the
    // locker's lock. Set before anything is locked.
    void OnRefused(std::function<void(const std::wstring& folder)> notice);

    // Duplicates every file handle held into process, for a process that
    // keeps the files shut while this one ends (the guard's hand-over):
    // the handles' values there. Nothing is let go or taken meanwhile.
    std::vector<std::uint32_t> DuplicateHeldFiles(HANDLE process) const;

    LockerReport Report() const;
    // Every lock asked for has been worked through: listed, opened and its
    // folder watched (or found missing). For tests and benchmarks.
    bool Settled() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace vaultmere
