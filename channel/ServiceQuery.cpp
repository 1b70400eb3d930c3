#include "channel/ServiceQuery.h"

#include "common/UniqueHandle.h"

namespace vaultmere {

DWORD RunningServiceProcessId(const wchar_t* serviceName) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return 0;
    UniqueServiceHandle service(::OpenServiceW(manager.Get(), serviceName, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (!::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &size) ||
        (status.dwCurrentState != SERVICE_RUNNING && status.dwCurrentState != SERVICE_START_PENDING)) {
        return 0;
    }
    return status.dwProcessId;
}

bool IsServiceInstalled(const wchar_t* serviceName) {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    UniqueServiceHandle service(::OpenServiceW(manager.Get(), serviceName, SERVICE_QUERY_STATUS));
    // A service that is there but may not be asked about is there.
    return service || ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace vaultmere
