#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace vaultmere {

// What the component holds of one item now.
struct ItemStatus {
    enum class Folder {
        Present,
        Missing,      // the folder is not there (the drive or share is)
        Unreachable,  // the folder cannot be asked (a drive not ready, a share gone, no access)
    };
    bool locked = false;  // the component has the item locked
    std::size_t filesHeld = 0;
    std::size_t filesWaiting = 0;  // covered by the item but open elsewhere: locked once let go
    Folder folder = Folder::Present;
};

// The locking component as the rest of the program sees it: one call.
// locked true makes the item inaccessible to other programs until a call
// with false for the same path.
class ItemLocker {
public:
    virtual ~ItemLocker() = default;
    virtual void SetItemLocked(const std::wstring& path, bool locked) = 0;
    // The status of each path, in order; a path not locked gives the
    // default status (locked false). Never waits for files being opened.
    virtual std::vector<ItemStatus> StatusOf(const std::vector<std::wstring>& paths) const {
        return std::vector<ItemStatus>(paths.size());
    }
};

}  // namespace vaultmere
