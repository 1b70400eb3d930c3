#pragma once
// How many handles the locker holds at most, and how many files and
// subfolders one folder locked with its subfolders may hold: the platform's
// default, or what an administrator set as MaxLockedFiles. No Windows
// headers, but for the platform's own default at the end.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vaultmere {

enum class LockPlatform { Windows, Wine };

struct LockBudget {
    std::size_t handles = 0;    // files and pinned folders of every item together
    std::size_t treeLimit = 0;  // files and subfolders of one folder locked with its subfolders
};

// Each handle held costs Windows about 1 to 2 KB of kernel memory (the file
// object and its handle entry, the file system's records of the file and
// of the open, a filter's): 128,000 cost 128 to 256 MB.
constexpr std::size_t kWindowsLockedFiles = 128000;
// Wine holds about 20,000 open files per prefix in all; the rest is the
// reserve for the process's own work (registry keys, the pipe, the log,
// windows, threads) and for the other programs in the prefix.
constexpr std::size_t kWineLockedFiles = 16000;
// A larger MaxLockedFiles is taken for a mistake: a million handles already
// cost 1 to 2 GB of kernel memory, and a value above 2^31 is a negative
// number written by a tool that took it for one.
constexpr std::uint32_t kMaxLockedFilesCeiling = 1000000;

// The tree limit is 15/16 of the budget, so that one full tree leaves room
// for plain items in proportion to the budget, at any budget.
LockBudget BudgetOf(std::size_t handles);
LockBudget DefaultLockBudget(LockPlatform platform);

// MaxLockedFiles as found in one place.
struct MaxLockedFilesValue {
    enum class Kind { Missing, Number, OtherType };
    Kind kind = Kind::Missing;
    std::uint32_t number = 0;
};

struct LockBudgetChoice {
    LockBudget budget;
    bool ignored = false;  // a value was given but not one to trust: the default holds
};

// The administrator's value where it is a number from 1 to the ceiling;
// else the platform's default.
LockBudgetChoice ChooseLockBudget(LockPlatform platform, const MaxLockedFilesValue& value);
// The value as the log shows it: its number, or that it is not a REG_DWORD.
std::wstring ValueText(const MaxLockedFilesValue& value);

// 15000 as "15,000".
std::wstring GroupedNumber(std::size_t number);
// What the user is told of a folder that holds more than the tree limit.
std::wstring TreeTooLargeText(std::size_t treeLimit);

#ifdef _WIN32
// Wine when ntdll exports wine_get_version; used only to pick the default.
LockPlatform RunningPlatform();
LockBudget PlatformLockBudget();
#endif

}  // namespace vaultmere
