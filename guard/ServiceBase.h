#pragma once
// The service manager's handshake, once: the dispatcher, the control
// handler and status reports. A service derives from it and does its work
// in OnStart and OnStop, both on the service's main thread.
#include <windows.h>

#include <string>

#include "common/EntryPoint.h"
#include "common/UniqueHandle.h"

namespace vaultmere {

class ServiceBase {
public:
    explicit ServiceBase(std::wstring name) : name_(std::move(name)) {}
    virtual ~ServiceBase() = default;
    ServiceBase(const ServiceBase&) = delete;
    ServiceBase& operator=(const ServiceBase&) = delete;

    // Hands the process to the service manager until the service stops.
    // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when not started as a service.
    DWORD Run();

protected:
    // Runs on the service's main thread after it reported start pending;
    // returns at once with the service running (long work goes on a thread
    // of its own) or with the error that ends it.
    virtual DWORD OnStart() = 0;
    // Stop requested by an administrator: releases everything.
    virtual void OnStop() = 0;
    // A device event the service registered for (RegisterDeviceNotificationW
    // with StatusHandle()); NO_ERROR grants what it asks, an error denies it.
    virtual DWORD OnDeviceEvent(DWORD /*eventType*/, void* /*eventData*/) { return NO_ERROR; }
    // A session changed (a WTS_* code: locked, disconnected, ...).
    virtual void OnSessionChange(DWORD /*change*/, DWORD /*sessionId*/) {}

    void ReportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHintMs = 0);
    // Where an exception that escapes the service's main thread or its
    // control handler is written before the process ends: half-done start,
    // stop or control leaves no state to go on with, and the service
    // manager's recovery actions start the service again.
    EscapeLog escapeLog = &LogToDebugger;
    SERVICE_STATUS_HANDLE StatusHandle() const { return statusHandle_; }

private:
    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    void RunMain();
    DWORD Control(DWORD control, DWORD eventType, void* eventData);
    static DWORD WINAPI Handler(DWORD control, DWORD eventType, void* eventData, void* context);

    std::wstring name_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    SERVICE_STATUS status_{};
    UniqueHandle stopRequested_;
    DWORD checkPoint_ = 1;
};

}  // namespace vaultmere
