#pragma once
// Which program file a process runs, and whether two paths name the same
// program file.
#include <windows.h>

#include <string>

namespace vaultmere {

// The full path of the program file a process runs; "" when the system does
// not say (the process has ended, or this one may not ask).
std::wstring ProcessImagePath(HANDLE process);
std::wstring ProcessImagePath(DWORD processId);

// Whether two paths name the same program file: equal apart from case, or
// one file reached by two names (a short name, another drive letter for the
// same volume).
bool SameProgramFile(const std::wstring& first, const std::wstring& second);

}  // namespace vaultmere
