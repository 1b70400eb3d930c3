#include "common/LockBudget.h"

namespace vaultmere {

LockBudget BudgetOf(std::size_t handles) { return {handles, handles - handles / 16}; }

LockBudget DefaultLockBudget(LockPlatform platform) {
    return BudgetOf(platform == LockPlatform::Wine ? kWineLockedFiles : kWindowsLockedFiles);
}

LockBudgetChoice ChooseLockBudget(LockPlatform platform, const MaxLockedFilesValue& value) {
    using Kind = MaxLockedFilesValue::Kind;
    if (value.kind == Kind::Number && value.number >= 1 && value.number <= kMaxLockedFilesCeiling) {
        return {BudgetOf(value.number), false};
    }
    return {DefaultLockBudget(platform), value.kind != Kind::Missing};
}

std::wstring ValueText(const MaxLockedFilesValue& value) {
    return value.kind == MaxLockedFilesValue::Kind::Number ? std::to_wstring(value.number) : L"not a REG_DWORD";
}

std::wstring GroupedNumber(std::size_t number) {
    std::wstring digits = std::to_wstring(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, L',');
    return digits;
}

std::wstring TreeTooLargeText(std::size_t treeLimit) {
    return L"This folder holds more than " + GroupedNumber(treeLimit) +
           L" files and folders with its subfolders, too many to lock together. Lock it without its subfolders, or "
           L"lock its subfolders one by one.";
}

}  // namespace vaultmere
