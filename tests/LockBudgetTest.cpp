#include <gtest/gtest.h>

#include "common/LockBudget.h"

namespace vaultmere {
namespace {

using Kind = MaxLockedFilesValue::Kind;

TEST(LockBudget, TheDefaultFitsThePlatformAndAnAdministratorsValueFromOneToTheCeilingReplacesIt) {
    EXPECT_GE(DefaultLockBudget(LockPlatform::Windows).treeLimit, 100000u);
    EXPECT_EQ(15000u, DefaultLockBudget(LockPlatform::Wine).treeLimit);
    const LockBudgetChoice none = ChooseLockBudget(LockPlatform::Wine, {});
    EXPECT_FALSE(none.ignored);
    EXPECT_EQ(16000u, none.budget.handles);
    // The tree limit follows whatever the budget is.
    for (const auto& [number, treeLimit] :
         {std::pair<std::uint32_t, std::size_t>{1, 1}, {100, 94}, {1000000, 937500}}) {
        const LockBudgetChoice taken = ChooseLockBudget(LockPlatform::Wine, {Kind::Number, number});
        EXPECT_FALSE(taken.ignored);
        EXPECT_EQ(number, taken.budget.handles);
        EXPECT_EQ(treeLimit, taken.budget.treeLimit);
    }
    // Zero, past the ceiling, negative to a signed tool, not a REG_DWORD: the default.
    for (const MaxLockedFilesValue bad : {MaxLockedFilesValue{Kind::Number, 0},
                                          {Kind::Number, 1000001},
                                          {Kind::Number, 0xFFFFFFFFu},
                                          {Kind::OtherType}}) {
        const LockBudgetChoice ignored = ChooseLockBudget(LockPlatform::Windows, bad);
        EXPECT_TRUE(ignored.ignored) << ValueText(bad);
        EXPECT_EQ(DefaultLockBudget(LockPlatform::Windows).handles, ignored.budget.handles);
    }
}

TEST(LockBudget, TheRefusalNamesTheTreeLimitWithThousandsSeparators) {
    EXPECT_EQ(L"999", GroupedNumber(999));
    EXPECT_EQ(L"1,000,000", GroupedNumber(1000000));
    EXPECT_EQ(
        L"This folder holds more than 120,000 files and folders with its subfolders, too many to lock together. "
        L"Lock it without its subfolders, or lock its subfolders one by one.",
        TreeTooLargeText(120000));
}

}  // namespace
}  // namespace vaultmere
