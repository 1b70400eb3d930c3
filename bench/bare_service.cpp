// The guard benchmark's bare service: started by the service manager as the
// guard is, it runs the bare loop over the folder it is given, sets the
// event it is given once every file is held, and holds them until stopped.
//   started with two arguments: the folder and the event's name
#include <windows.h>

#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "common/UniqueHandle.h"

using vaultmere::UniqueHandle;

namespace {

struct Run {
    SERVICE_STATUS_HANDLE status = nullptr;
    UniqueHandle stopped;
};

void Report(const Run& run, DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    ::SetServiceStatus(run.status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void* context) {
    if (control == SERVICE_CONTROL_STOP) ::SetEvent(static_cast<Run*>(context)->stopped.Get());
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
    Run run;
    run.stopped.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    run.status = ::RegisterServiceCtrlHandlerExW(bench::kBareServiceName, &Control, &run);
    if (!run.status) return;
    Report(run, SERVICE_RUNNING);
    std::vector<UniqueHandle> handles;
    if (argc > 2) {
        bench::BareLock(argv[1], handles);
        const UniqueHandle held(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
        ::SetEvent(held.Get());
    }
    ::WaitForSingleObject(run.stopped.Get(), INFINITE);
    handles.clear();
    Report(run, SERVICE_STOPPED);
}

}  // namespace

int wmain() {
    std::wstring name = bench::kBareServiceName;
    const SERVICE_TABLE_ENTRYW table[] = {{&name[0], &ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
