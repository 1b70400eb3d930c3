#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "locker/Item.h"

namespace vaultmere {

// What the component holds of one item now.
struct ItemStatus {
    enum class Folder {
        Present,
        Missing,       // the folder is not there (the drive or share is)
        Unreachable,   // the folder cannot be asked (a drive not ready, a share gone)
        Denied,        // this account may not open the folder
        InUse,         // another program has the folder open without sharing
        OutOfHandles,  // the system or the process has no handle to spare
    };
    // Why nothing of an item is locked.
    enum class Refusal {
        None,
        NotAPath,              // not an absolute path to files (relative, a device, too long)
        SystemFolder,          // the Windows folder, anything in it, or the program's own folder
        FolderWithoutPattern,  // names a folder rather than the files in it (c:\data)
        Redirected,            // its path passes through a link, or leads to another folder than the one checked
    };
    bool locked = false;  // the component was asked to lock the item
    std::size_t filesHeld = 0;
    std::size_t filesWaiting = 0;    // open elsewhere: locked once let go
    std::size_t filesDenied = 0;     // this account may not open them: tried again now and then
    std::size_t filesFailed = 0;     // refused for another reason: tried again now and then
    std::size_t filesOverLimit = 0;  // of a folder locked with its subfolders, left open past the tree limit
    std::size_t linksLeft = 0;       // junctions and links inside, neither followed nor opened
    Folder folder = Folder::Present;
    Refusal refusal = Refusal::None;
    bool setByPolicy = false;  // the guard's: an administrator's policy lists the item
};

// The folder a check approved for an item, as read from the handle it
// checked: its id and its volume's serial number (0: none given).
struct ApprovedFolder {
    std::int64_t fileId = 0;
    std::uint32_t volume = 0;
};

// The locking component as the rest of the program sees it: one call.
// locked true makes the item inaccessible to other programs until a call
// with false for the same path. Neither call waits for a disk or a network:
// the files are locked just after the call, and let go by the call.
class ItemLocker {
public:
    virtual ~ItemLocker() = default;
    virtual void SetItemLocked(const Item& item, bool locked) = 0;
    // Locks an item whose folder was checked: a different folder found in
    // its place is not held.
    virtual void LockApproved(const Item& item, const ApprovedFolder& /*approved*/) { SetItemLocked(item, true); }
    // How many items are listed, locked or not: each has its share of what
    // the component may hold kept for it.
    virtual void SetItemsKnown(std::size_t /*items*/) {}
    // The status of each item, in order; an item not locked gives the
    // default status (locked false). Never waits for files being opened.
    virtual std::vector<ItemStatus> StatusOf(const std::vector<Item>& items) const {
        return std::vector<ItemStatus>(items.size());
    }
};

}  // namespace vaultmere
