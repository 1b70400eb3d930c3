#include "installer/helper/ServiceSetup.h"

#include "common/UniqueHandle.h"
#include "installer/helper/ProgramCopies.h"
#include "store/HandOverRecord.h"

namespace vaultmere {

namespace {

constexpr DWORD kStopWaitMs = 30000;
constexpr DWORD kEndWaitMs = 10000;
constexpr DWORD kStartWaitMs = 30000;
constexpr DWORD kPollMs = 100;
// How long the service manager is given to catch up: to report a service
// that took a stop as stopping, or to let go of a deleted service's name.
constexpr DWORD kCatchUpMs = 2000;
constexpr DWORD kDayInSeconds = 24 * 60 * 60;
// Stopping, and taking the restart actions away from a service that does not stop.
constexpr DWORD kStopAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG;

UniqueServiceHandle OpenNamedService(const std::wstring& name, DWORD access, DWORD& error) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        error = ::GetLastError();
        return UniqueServiceHandle();
    }
    UniqueServiceHandle service(::OpenServiceW(manager.Get(), name.c_str(), access));
    error = service ? NO_ERROR : ::GetLastError();
    return service;
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                  &needed) != FALSE;
}

DWORD RemainingMs(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// No actions at all with an empty array: a null one would change nothing.
DWORD SetFailureActions(SC_HANDLE service, SC_ACTION* actions, DWORD count) {
    wchar_t none[] = L"";
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = kDayInSeconds;
    failure.lpRebootMsg = none;
    failure.lpCommand = none;
    failure.cActions = count;
    failure.lpsaActions = actions;
    return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) ? NO_ERROR : ::GetLastError();
}

// One more setting of the service; a setting the system does not know (Wine
// keeps some of them not at all) is left to the systems that do.
DWORD ChangeSetting(SC_HANDLE service, DWORD level, void* setting) {
    if (::ChangeServiceConfig2W(service, level, setting)) return NO_ERROR;
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_LEVEL ? NO_ERROR : error;
}

// Restarted 5 s, 30 s and 60 s after it fails, also when it stops with an
// error (its start failed, say) rather than crashing.
DWORD SetRestartActions(SC_HANDLE service) {
    SC_ACTION restarts[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}};
    const DWORD error = SetFailureActions(service, restarts, ARRAYSIZE(restarts));
    if (error != NO_ERROR) return error;
    SERVICE_FAILURE_ACTIONS_FLAG onErrors{TRUE};
    return ChangeSetting(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrors);
}

// The least the guard runs with: a SID of its own, which access lists can
// name, and of the system account's privileges only what it uses.
DWORD SetLeastPrivilege(SC_HANDLE service) {
    SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
    const DWORD error = ChangeSetting(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid);
    if (error != NO_ERROR) return error;
    // A list of names, each ending in a null, the list in one more.
    wchar_t privileges[] = L"SeChangeNotifyPrivilege\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
    return ChangeSetting(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required);
}

// The service did not stop in time: its process is ended, after its restart
// actions are taken away so that the service manager does not start it again
// while its files are replaced. Registering it again restores them.
DWORD EndServiceProcess(SC_HANDLE service, HANDLE process) {
    if (!process) return ERROR_SERVICE_REQUEST_TIMEOUT;
    SC_ACTION noActions[1] = {};
    // Should that fail, the process is ended all the same.
    SetFailureActions(service, noActions, 0);
    ::TerminateProcess(process, ERROR_SERVICE_REQUEST_TIMEOUT);
    return ::WaitForSingleObject(process, kEndWaitMs) == WAIT_OBJECT_0 ? NO_ERROR : ERROR_SERVICE_REQUEST_TIMEOUT;
}

// Asks the service to stop and waits until it reports stopped and the
// process it ran in has ended: only then are its files free. A process that
// has ended counts as stopped whatever the service manager still reports.
DWORD StopAndWait(SC_HANDLE service) {
    const ULONGLONG deadline = ::GetTickCount64() + kStopWaitMs;
    UniqueHandle process;
    DWORD processId = 0;
    bool processEnded = false;
    bool stopSent = false;
    DWORD controlError = NO_ERROR;
    ULONGLONG controlErrorDeadline = 0;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        if (!QueryStatus(service, status)) return ::GetLastError();
        if (status.dwProcessId != 0 && status.dwProcessId != processId) {
            processId = status.dwProcessId;
            process.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
            processEnded = !process && ::GetLastError() == ERROR_INVALID_PARAMETER;
        }
        if (process && ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) processEnded = true;
        if (status.dwCurrentState == SERVICE_STOPPED || processEnded) break;
        if (controlError != NO_ERROR && status.dwCurrentState == SERVICE_RUNNING &&
            ::GetTickCount64() >= controlErrorDeadline)
            return controlError;
        if (!stopSent && status.dwCurrentState != SERVICE_STOP_PENDING) {
            SERVICE_STATUS ignored{};
            if (::ControlService(service, SERVICE_CONTROL_STOP, &ignored)) {
                stopSent = true;
            } else if (const DWORD error = ::GetLastError();
                       error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_SERVICE_NOT_ACTIVE) {
                // The control may have reached a service that ended before it
                // answered (Wine then says ERROR_BROKEN_PIPE): the error counts
                // only where the service still runs a moment later.
                stopSent = true;
                controlError = error;
                controlErrorDeadline = ::GetTickCount64() + kCatchUpMs;
            }
            // Still starting: asked again at the next look.
        }
        if (RemainingMs(deadline) == 0) return EndServiceProcess(service, process.Get());
        ::Sleep(kPollMs);
    }
    if (process && ::WaitForSingleObject(process.Get(), RemainingMs(deadline)) != WAIT_OBJECT_0)
        return EndServiceProcess(service, process.Get());
    return NO_ERROR;
}

}  // namespace

DWORD RegisterService(const ServiceDefinition& definition) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return ::GetLastError();
    const std::wstring binaryPath = L"\"" + definition.programFile + L"\"";
    // Restart actions need the right to start the service.
    constexpr DWORD kAccess = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_START;
    UniqueServiceHandle service(::OpenServiceW(manager.Get(), definition.name.c_str(), kAccess));
    if (service) {
        // No load order group, no dependencies, the system account.
        if (!::ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    binaryPath.c_str(), L"", nullptr, L"\0", L"LocalSystem", L"",
                                    definition.displayName.c_str()))
            return ::GetLastError();
    } else {
        const DWORD error = ::GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST) return error;
        service.Reset(::CreateServiceW(manager.Get(), definition.name.c_str(), definition.displayName.c_str(), kAccess,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service) return ::GetLastError();
    }
    std::wstring description = definition.description;
    SERVICE_DESCRIPTIONW describe{&description[0]};
    if (!::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &describe)) return ::GetLastError();
    const DWORD error = SetLeastPrivilege(service.Get());
    if (error != NO_ERROR) return error;
    return SetRestartActions(service.Get());
}

DWORD RestoreRestartActions(const std::wstring& name) {
    DWORD error = NO_ERROR;
    UniqueServiceHandle service = OpenNamedService(name, SERVICE_CHANGE_CONFIG | SERVICE_START, error);
    if (!service) return error;
    return SetRestartActions(service.Get());
}

DWORD StartServiceAndWait(const std::wstring& name) {
    DWORD error = NO_ERROR;
    UniqueServiceHandle service = OpenNamedService(name, SERVICE_START | SERVICE_QUERY_STATUS, error);
    if (!service) return error;
    if (!::StartServiceW(service.Get(), 0, nullptr)) {
        error = ::GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) return error;
    }
    const ULONGLONG deadline = ::GetTickCount64() + kStartWaitMs;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        if (!QueryStatus(service.Get(), status)) return ::GetLastError();
        if (status.dwCurrentState == SERVICE_RUNNING) return NO_ERROR;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) return status.dwServiceSpecificExitCode;
            return status.dwWin32ExitCode != NO_ERROR ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
        }
        if (RemainingMs(deadline) == 0) return ERROR_SERVICE_REQUEST_TIMEOUT;
        ::Sleep(kPollMs);
    }
}

DWORD StopServiceAndWait(const std::wstring& name) {
    EnableDebugPrivilege();
    DWORD error = NO_ERROR;
    UniqueServiceHandle service = OpenNamedService(name, kStopAccess, error);
    if (!service) return error;
    // Changing nothing fails only where the service is marked for deletion.
    if (!::ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return ::GetLastError();
    return StopAndWait(service.Get());
}

DWORD AskForServiceHandOver(const std::wstring& name) {
    DWORD error = NO_ERROR;
    UniqueServiceHandle service = OpenNamedService(name, SERVICE_QUERY_STATUS, error);
    if (!service) return error;
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service.Get(), status)) return ::GetLastError();
    return status.dwProcessId != 0 ? static_cast<DWORD>(AskForHandOver(status.dwProcessId)) : ERROR_SERVICE_NOT_ACTIVE;
}

DWORD StopServiceForUpdate(const std::wstring& name) {
    // A guard that cannot be asked is stopped all the same: it lets go as at any stop.
    AskForServiceHandOver(name);
    return StopServiceAndWait(name);
}

DWORD RemoveService(const std::wstring& name) {
    EnableDebugPrivilege();
    DWORD error = NO_ERROR;
    UniqueServiceHandle service = OpenNamedService(name, kStopAccess | DELETE, error);
    if (!service) return error;
    error = StopAndWait(service.Get());
    if (error != NO_ERROR) return error;
    if (!::DeleteService(service.Get())) {
        error = ::GetLastError();
        if (error != ERROR_SERVICE_MARKED_FOR_DELETE) return error;
    }
    service.Reset();
    // The service manager lets the name go once the last handle is closed.
    const ULONGLONG deadline = ::GetTickCount64() + kCatchUpMs;
    for (;;) {
        UniqueServiceHandle left = OpenNamedService(name, SERVICE_QUERY_STATUS, error);
        if (!left) return error == ERROR_SERVICE_DOES_NOT_EXIST ? NO_ERROR : error;
        if (RemainingMs(deadline) == 0) return ERROR_SERVICE_MARKED_FOR_DELETE;
        left.Reset();
        ::Sleep(kPollMs);
    }
}

DWORD ProgramFilesReplaceable(const std::vector<std::wstring>& files) {
    for (const std::wstring& file : files) {
        const UniqueHandle opened(::CreateFileW(file.c_str(), DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (opened) continue;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
    }
    return NO_ERROR;
}

}  // namespace vaultmere
