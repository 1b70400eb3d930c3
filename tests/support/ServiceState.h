#pragma once
// Whether a service has stopped, for the tests and benchmarks that stop the
// guard and start it again: a stop is answered at once and the service
// reports stopped only once it has let everything go, and until then it can
// be neither started again nor made anew.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace testing_support {

// Stopped, or not there at all.
inline bool ServiceStopped(const wchar_t* serviceName) {
    vaultmere::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    vaultmere::UniqueServiceHandle service(manager ? ::OpenServiceW(manager.Get(), serviceName, SERVICE_QUERY_STATUS)
                                                   : nullptr);
    SERVICE_STATUS status{};
    if (!service) return manager && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    return ::QueryServiceStatus(service.Get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
}

}  // namespace testing_support
