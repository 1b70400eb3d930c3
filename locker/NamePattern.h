#pragma once
// Which file names a folder item's pattern covers, decided without the disk.
#include <string>

namespace vaultmere {

// Whether name matches pattern the way a folder search does: '*' stands for
// any run of characters, '?' for any one. A pattern ending in ".*" also takes
// names without a dot ("*.*" takes every name), and one ending in "." takes
// only names without a dot. Both texts are compared as given, so callers
// lower-case them first.
bool NameMatchesPattern(const std::wstring& pattern, const std::wstring& name);

// Whether the pattern holds a wildcard; without one it names a single file.
bool HasWildcard(const std::wstring& pattern);

}  // namespace vaultmere
