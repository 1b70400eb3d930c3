#pragma once
#include <string>

namespace vaultmere {

// Lower-cases text with the system's rules (on Windows the same rules the
// file system and the user's locale use), not byte tricks.
std::wstring LowerCase(std::wstring text);

// Case-insensitive equality as Windows compares file names.
bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);

}  // namespace vaultmere
