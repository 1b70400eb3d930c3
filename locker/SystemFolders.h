#pragma once
#include <string>
#include <vector>

namespace vaultmere {

// The folders Windows loads itself from, which must never be locked: the
// Windows folder and System32, SysWOW64 and Sysnative beneath it (the last
// two name the other view of System32 for a 32-bit program on 64-bit
// Windows; either may be missing). Read from the process, not the disk.
std::vector<std::wstring> SystemFolders();

}  // namespace vaultmere
