#pragma once
// What the service manager says of a service, for the guard's clients.
#include <windows.h>

namespace vaultmere {

// The process id of a running service, or 0 when it is not installed or
// not running. A service still starting counts: the guard serves its pipe
// before it reports running, and the process is the service's all the same.
DWORD RunningServiceProcessId(const wchar_t* serviceName);
// Whether the service manager knows the service, running or not.
bool IsServiceInstalled(const wchar_t* serviceName);

}  // namespace vaultmere
