#pragma once
// The Task Scheduler task that starts the program at every logon: any user's
// logon starts it with that user's own rights, never elevated (the service
// does what needs more), in parallel for several users, with no time limit,
// on batteries too, at normal priority. Its definition is kept beside the
// program, where an administrator can read what was registered.
#include <windows.h>

#include <string>

namespace vaultmere {

constexpr wchar_t kLogonTaskFile[] = L"vaultmere-task.xml";

// The task's definition for a program file given as a full path.
std::wstring LogonTaskDefinition(const std::wstring& programFile);

// Writes the definition beside the program (UTF-16LE with a byte order
// mark, as the Task Scheduler reads it) and registers it under taskName,
// replacing a task of that name. NO_ERROR, the Win32 error of a step that
// failed, or the Task Scheduler's exit code.
DWORD RegisterLogonTask(const std::wstring& programFile, const std::wstring& taskName);

// Deletes the task and the definition kept beside the program; a task or a
// file that is not there is no failure.
DWORD RemoveLogonTask(const std::wstring& programFile, const std::wstring& taskName);

}  // namespace vaultmere
