#pragma once
// The two values that make unlocked items lock themselves again, read where
// an administrator's policy puts them first, then from the program's own
// settings.
#include <windows.h>

#include <string>

#include "common/RelockSchedule.h"
#include "store/Registry.h"

namespace Registry {

constexpr wchar_t kRelockOnSessionLockValueName[] = L"RelockOnSessionLock";
constexpr wchar_t kRelockMinutesValueName[] = L"RelockMinutes";

// Read afresh at each call, so that a change applies at once. A value that
// is missing or not a REG_DWORD counts as not given.
vaultmere::RelockSettings ReadRelockSettings(HKEY root = HKEY_LOCAL_MACHINE,
                                             const std::wstring& policyKeyPath = kPolicyKeyPath,
                                             const std::wstring& settingsKeyPath = kSettingsKeyPath);

}  // namespace Registry
