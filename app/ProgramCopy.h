#pragma once
#include <string>

namespace vaultmere {

// Starts a new copy of the program without handing it any handle, shown
// normally without taking the focus, in the user's profile folder. Returns
// false when it could not start.
bool StartProgramCopy(const std::wstring& exePath);

}  // namespace vaultmere
