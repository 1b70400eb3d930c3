#pragma once
#include <windows.h>

#include <string>

namespace vaultmere {

// The system's own words for a Win32 error code, without the closing period
// and line break, for use inside a sentence.
std::wstring SystemErrorText(LONG code);

}  // namespace vaultmere
