#pragma once
// What setup and the uninstaller do to running copies of the program, in
// every session: end them, and start the new program for the user signed in
// where setup runs.
#include <string>
#include <vector>

namespace vaultmere {

// Administrators hold the debug privilege, disabled: enabled, it opens the
// processes of other users and of services, which grant administrators
// little or nothing.
void EnableDebugPrivilege();

enum class EndOutcome { NoneRan = 0, Ended = 1, SomeRemain = 2 };

// Ends every process of any user and session that runs one of these program
// files, found by its program file's path, with the rights an administrator
// has over other users' processes. A copy that starts while others end (a
// relaunch) is ended too.
EndOutcome EndProgramCopies(const std::vector<std::wstring>& programFiles);
// Whether any process runs one of these program files.
bool AnyProgramCopyRuns(const std::vector<std::wstring>& programFiles);

enum class StartOutcome { Started = 0, NoSignedInUser = 1, Failed = 2 };

// Starts the program in this process's session as the user signed in there,
// with that user's own rights, never with this process's: through the logon
// task run on demand when taskName is given (so that it runs as at logon),
// otherwise with the token of the session's shell.
// Started from the system's own account or session 0 (deployment tools),
// nothing is started.
StartOutcome StartForSignedInUser(const std::wstring& program, const std::wstring& taskName);

}  // namespace vaultmere
