#include "guard/ServiceBase.h"

namespace vaultmere {

namespace {

// ServiceMain is handed no context: the one service object of the process
// is found here, set once by Run before the dispatcher starts.
ServiceBase* runningService = nullptr;

}  // namespace

DWORD ServiceBase::Run() {
    runningService = this;
    SERVICE_TABLE_ENTRYW table[] = {{&name_[0], &ServiceBase::ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? ERROR_SUCCESS : ::GetLastError();
}

void WINAPI ServiceBase::ServiceMain(DWORD, LPWSTR*) {
    ServiceBase& service = *runningService;
    RunGuarded(
        L"the service's main thread", AfterEscape::EndProcess, 0,
        [&service] {
            service.RunMain();
            return 0;
        },
        service.escapeLog);
}

void ServiceBase::RunMain() {
    statusHandle_ = ::RegisterServiceCtrlHandlerExW(name_.c_str(), &ServiceBase::Handler, this);
    if (!statusHandle_) return;
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ReportStatus(SERVICE_START_PENDING, NO_ERROR, 3000);
    stopRequested_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const DWORD error = stopRequested_ ? OnStart() : ::GetLastError();
    if (error != NO_ERROR) {
        ReportStatus(SERVICE_STOPPED, error);
        return;
    }
    ReportStatus(SERVICE_RUNNING);
    // The stop's work is done here, not in the handler: the handler answers
    // the service manager at once, and STOPPED is reported only after
    // everything is let go, as the last thing the process does.
    ::WaitForSingleObject(stopRequested_.Get(), INFINITE);
    OnStop();
    ReportStatus(SERVICE_STOPPED);
}

DWORD WINAPI ServiceBase::Handler(DWORD control, DWORD eventType, void* eventData, void* context) {
    ServiceBase& service = *static_cast<ServiceBase*>(context);
    return RunGuarded(
        L"the service's control handler", AfterEscape::EndProcess, static_cast<DWORD>(NO_ERROR),
        [&] { return service.Control(control, eventType, eventData); }, service.escapeLog);
}

DWORD ServiceBase::Control(DWORD control, DWORD eventType, void* eventData) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 10000);
        ::SetEvent(stopRequested_.Get());
        return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
        // Windows is going down and every handle with it: nothing is let go
        // one by one, the process just ends.
        ReportStatus(SERVICE_STOPPED);
        ::ExitProcess(NO_ERROR);
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_DEVICEEVENT:
        return OnDeviceEvent(eventType, eventData);
    case SERVICE_CONTROL_SESSIONCHANGE:
        if (eventData) OnSessionChange(eventType, static_cast<WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId);
        return NO_ERROR;
    default:
        // User-defined controls and anything else are not ours to act on.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void ServiceBase::ReportStatus(DWORD state, DWORD exitCode, DWORD waitHintMs) {
    status_.dwCurrentState = state;
    status_.dwWin32ExitCode = exitCode;
    status_.dwWaitHint = waitHintMs;
    status_.dwControlsAccepted = state == SERVICE_START_PENDING || state == SERVICE_STOPPED
                                     ? 0
                                     : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE;
    status_.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : checkPoint_++;
    ::SetServiceStatus(statusHandle_, &status_);
}

}  // namespace vaultmere
