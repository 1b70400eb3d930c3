// Sends a service a control code, as an administrator's tool would, and
// exits with the state the service reports afterwards (SERVICE_RUNNING is
// 4), or 100 + the Win32 error when it cannot be asked. Code 0 sends
// nothing and only reports the state.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return ERROR_INVALID_PARAMETER;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 100 + static_cast<int>(::GetLastError());
    SC_HANDLE service = ::OpenServiceW(manager, argv[1], SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS);
    if (!service) return 100 + static_cast<int>(::GetLastError());
    SERVICE_STATUS status{};
    const DWORD code = std::wcstoul(argv[2], nullptr, 10);
    if (code != 0) {
        // Whether the service takes the code is not the question: only what it does after.
        ::ControlService(service, code, &status);
        ::Sleep(200);
    }
    const int state = ::QueryServiceStatus(service, &status) ? static_cast<int>(status.dwCurrentState)
                                                             : 100 + static_cast<int>(::GetLastError());
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return state;
}
