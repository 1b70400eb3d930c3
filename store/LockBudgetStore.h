#pragma once
// MaxLockedFiles, the most files the locker holds, read where an
// administrator's policy puts it first, then from the program's own settings.
#include <windows.h>

#include <string>

#include "common/LockBudget.h"
#include "store/Registry.h"

namespace Registry {

constexpr wchar_t kMaxLockedFilesValueName[] = L"MaxLockedFiles";

struct LockBudgetReading {
    vaultmere::LockBudget budget;
    // The value ignored, for the log: where it is and what it holds; both ""
    // when none was.
    std::wstring ignoredPlace;
    std::wstring ignoredValue;
};

// The policy's value wins wherever it is given, also when it is bad: then
// the platform's default holds, as it does when neither place gives one.
// The settings key unreadable (a standard user's bare program) counts as
// giving none.
LockBudgetReading ReadLockBudget(HKEY root = HKEY_LOCAL_MACHINE, const std::wstring& policyKeyPath = kPolicyKeyPath,
                                 const std::wstring& settingsKeyPath = kSettingsKeyPath);

}  // namespace Registry
