// Keeps a resident copy under watch: stores N items (folders of F files),
// starts the program, sends a show request every S seconds (0: none, the
// copy only waits) for M minutes, and prints the resident's handle count,
// private memory and CPU time at the start and at the end. The soak run and
// the idle benchmark both use it. Asserts nothing.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ResidentWindow.h"
#include "bench/BenchSupport.h"
#include "common/AppState.h"
#include "store/Registry.h"
#include "tests/support/ProcessCounters.h"

namespace {

struct Sample {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
    double cpuSeconds = 0;
};

Sample Measure(HANDLE process) {
    Sample sample;
    sample.handles = static_cast<DWORD>(testing_support::ProcessHandleCount(process));
    sample.privateBytes = testing_support::ProcessPrivateBytes(process);
    FILETIME created, ended, kernel, user;
    if (::GetProcessTimes(process, &created, &ended, &kernel, &user)) {
        auto seconds = [](const FILETIME& time) {
            return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
        };
        sample.cpuSeconds = seconds(kernel) + seconds(user);
    }
    return sample;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const double minutes = argc > 1 ? _wtof(argv[1]) : 1.0;
    const int items = argc > 2 ? _wtoi(argv[2]) : 1000;
    const int requestSeconds = argc > 3 ? _wtoi(argv[3]) : 3;
    const int filesPerItem = argc > 4 ? _wtoi(argv[4]) : 10;

    const std::wstring exe = bench::ProgramBeside();

    bench::StoreFolderItems(L"vm-resident-watch", items, filesPerItem);
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName);

    HANDLE resident = bench::StartProgram(exe);
    HWND prompt = nullptr;
    for (int i = 0; i < 3000 && !(prompt = ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle)); ++i) ::Sleep(10);
    if (!prompt) {
        std::printf("the resident copy did not start\n");
        return 1;
    }
    // Let the start-up relock finish before the first sample.
    ::Sleep(3000);
    const Sample first = Measure(resident);

    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(minutes * 60000.0);
    int requests = 0, answered = 0;
    while (::GetTickCount64() < end) {
        if (requestSeconds <= 0) {
            ::Sleep(1000);
            continue;
        }
        HANDLE second = bench::StartProgram(exe);
        ++requests;
        const ULONGLONG deadline = ::GetTickCount64() + 5000;
        while (!::IsWindowVisible(prompt) && ::GetTickCount64() < deadline) ::Sleep(20);
        if (::IsWindowVisible(prompt)) ++answered;
        ::WaitForSingleObject(second, 10000);
        ::CloseHandle(second);
        ::SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(vaultmere::ResidentWindow::IDC_CANCEL_BUTTON, BN_CLICKED), 0);
        ::Sleep(static_cast<DWORD>(requestSeconds) * 1000);
    }
    const Sample last = Measure(resident);
    const bool stillRunning = ::WaitForSingleObject(resident, 0) == WAIT_TIMEOUT;
    ::TerminateProcess(resident, 0);
    ::CloseHandle(resident);
    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);

    bench::TableHeader();
    char what[96];
    if (requestSeconds > 0) {
        std::snprintf(what, sizeof what, "resident: %d items, %.1f min, request every %d s", items, minutes,
                      requestSeconds);
        bench::Row(what, std::to_string(answered) + " of " + std::to_string(requests) + " answered");
    } else {
        std::snprintf(what, sizeof what, "resident: %d items, %.1f min idle", items, minutes);
        bench::Row(what, "no requests");
    }
    bench::Row("  handles at the start / at the end",
               std::to_string(first.handles) + " / " + std::to_string(last.handles));
    bench::Row("  private memory at the start / at the end (KiB)",
               bench::Format("%.0f", static_cast<double>(first.privateBytes) / 1024.0) + " / " +
                   bench::Format("%.0f", static_cast<double>(last.privateBytes) / 1024.0));
    bench::Row("  CPU time during the run (s)", bench::Format("%.3f", last.cpuSeconds - first.cpuSeconds),
               requestSeconds <= 0 ? "< 0.1 (10 min)" : "");
    bench::Row("  still running at the end", stillRunning ? "yes" : "no");
    return 0;
}
