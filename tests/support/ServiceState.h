#pragma once
// Whether a service has stopped, for the tests and benchmarks that stop the
// guard and start it again: a stop is answered at once and the service
// reports stopped only once it has let everything go, and until then it can
// be neither started again nor made anew.
#include <windows.h>

#include <string>

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

// A service registered from a program file and started, as the tests of the
// real guard use it; stopped and deleted when it goes.
class TestService {
public:
    explicit TestService(const wchar_t* name) : name_(name) {}
    ~TestService() { Remove(); }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Deletes one left by an earlier run, registers binary and starts it.
    bool Install(const std::wstring& binary) {
        manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ::DeleteService(vaultmere::UniqueServiceHandle(::OpenServiceW(manager_.Get(), name_, DELETE)).Get());
        const std::wstring quoted = L"\"" + binary + L"\"";
        service_.Reset(::CreateServiceW(manager_.Get(), name_, name_, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, quoted.c_str(), nullptr, nullptr,
                                        nullptr, nullptr, nullptr));
        return service_ && Start();
    }
    bool Start() { return ::StartServiceW(service_.Get(), 0, nullptr) != FALSE; }
    // A service still starting refuses a stop, though it may have done its
    // work already (ERROR_SERVICE_CANNOT_ACCEPT_CTRL; Wine says
    // ERROR_INVALID_SERVICE_CONTROL): the stop is sent until taken.
    bool Stop() {
        const ULONGLONG giveUp = ::GetTickCount64() + 10000;
        SERVICE_STATUS status{};
        while (!::ControlService(service_.Get(), SERVICE_CONTROL_STOP, &status)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_INVALID_SERVICE_CONTROL) break;
            if (::GetTickCount64() > giveUp) return false;
            ::Sleep(50);
        }
        while (!ServiceStopped(name_)) {
            if (::GetTickCount64() > giveUp) return false;
            ::Sleep(50);
        }
        return true;
    }
    // Stopped and deleted: gone once no handle holds it.
    bool Remove() {
        if (!service_) return true;
        Stop();
        const bool deleted = ::DeleteService(service_.Get()) != FALSE;
        service_.Reset();
        return deleted;
    }

private:
    const wchar_t* name_;
    vaultmere::UniqueServiceHandle manager_;
    vaultmere::UniqueServiceHandle service_;
};

}  // namespace testing_support
