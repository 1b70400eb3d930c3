// Show request: time from a second start to the resident copy's visible
// prompt, over 20 requests. Prints median and worst; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ResidentWindow.h"
#include "bench/BenchSupport.h"
#include "common/AppState.h"

int wmain(int argc, wchar_t** argv) {
    const int requests = argc > 1 ? _wtoi(argv[1]) : 20;
    const std::wstring exe = bench::ProgramBeside();
    HANDLE resident = bench::StartProgram(exe);
    HWND prompt = nullptr;
    for (int i = 0; i < 500 && !(prompt = ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle)); ++i) ::Sleep(10);
    if (!prompt) {
        std::printf("the resident copy did not start\n");
        return 1;
    }

    std::vector<double> seconds;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < requests; ++i) {
        LARGE_INTEGER start, shown;
        ::QueryPerformanceCounter(&start);
        HANDLE second = bench::StartProgram(exe);
        while (!::IsWindowVisible(prompt)) ::Sleep(2);
        ::QueryPerformanceCounter(&shown);
        seconds.push_back(static_cast<double>(shown.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
        ::WaitForSingleObject(second, 10000);
        ::CloseHandle(second);
        // Cancel hides the prompt for the next request.
        ::SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(vaultmere::ResidentWindow::IDC_CANCEL_BUTTON, BN_CLICKED), 0);
        // Let the next request fall on a different phase of the one-second poll.
        ::Sleep(137 * static_cast<DWORD>(i % 7));
    }
    ::TerminateProcess(resident, 0);
    ::CloseHandle(resident);

    std::sort(seconds.begin(), seconds.end());
    const double median = seconds.size() % 2 ? seconds[seconds.size() / 2]
                                             : (seconds[seconds.size() / 2 - 1] + seconds[seconds.size() / 2]) / 2;
    bench::TableHeader();
    bench::Row("show request: second start to prompt, median (s)", bench::Format("%.3f", median), "<= 1.1");
    bench::Row("show request: worst of the requests (s)", bench::Format("%.3f", seconds.back()), "<= 2.1");
    return 0;
}
