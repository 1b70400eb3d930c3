#pragma once
#include <string>

namespace vaultmere {

// The locking component as the rest of the program sees it: one call.
// locked true makes the item inaccessible to other programs until a call
// with false for the same path.
class ItemLocker {
public:
    virtual ~ItemLocker() = default;
    virtual void SetItemLocked(const std::wstring& path, bool locked) = 0;
};

}  // namespace vaultmere
