#pragma once
// What setup and the uninstaller do with the program's service through the
// service control manager. Each returns the Win32 error of the step that
// failed, NO_ERROR when every step succeeded.
#include <windows.h>

#include <string>
#include <vector>

namespace vaultmere {

struct ServiceDefinition {
    std::wstring name;
    std::wstring displayName;
    std::wstring description;
    std::wstring programFile;  // a full path; registered in quotes
};

// Registers the service, or gives the one registered under its name the same
// configuration: its own process, started at boot, the system account with
// a service SID of its own and only the privilege it needs, restarted 5 s,
// 30 s and 60 s after it fails or stops with an error, failures counted
// afresh after a day.
DWORD RegisterService(const ServiceDefinition& definition);

// Gives the service its restart actions again (a stop that had to end its
// process took them away), changing nothing else.
DWORD RestoreRestartActions(const std::wstring& name);

// Starts the service and waits until it runs (NO_ERROR when it ran already);
// when it stops instead, the error it stopped with.
DWORD StartServiceAndWait(const std::wstring& name);

// Stops the service and waits until it says it has stopped and its process
// has ended, so that its program file is free. ERROR_SERVICE_DOES_NOT_EXIST
// when there is none. ERROR_SERVICE_MARKED_FOR_DELETE, with nothing stopped,
// when it is deleted already but another program still has it open: no
// service of that name can be registered until that program lets go.
DWORD StopServiceAndWait(const std::wstring& name);

// Asks the running guard to hand its locks to a holder when it is next
// stopped, which the guard that follows takes them from, so that nothing
// is free in between. NO_ERROR, or the error of the step that failed.
DWORD AskForServiceHandOver(const std::wstring& name);
// Stops the service for an update, having asked for the hand-over first.
// As StopServiceAndWait.
DWORD StopServiceForUpdate(const std::wstring& name);

// Stops the service as above and deletes it. ERROR_SERVICE_DOES_NOT_EXIST
// when there was none; ERROR_SERVICE_MARKED_FOR_DELETE when it is stopped and
// deleted but stays registered while another program has it open (until
// that program lets go, or Windows restarts).
DWORD RemoveService(const std::wstring& name);

// Whether every one of files that exists can be replaced: opened for
// renaming with every other program's use allowed, as a running program's
// file can be. NO_ERROR, or the error of the first that cannot.
DWORD ProgramFilesReplaceable(const std::vector<std::wstring>& files);

}  // namespace vaultmere
