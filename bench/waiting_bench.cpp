// A resident copy whose files are all held by another program, as when a
// second user's copy finds every file held by the first: this benchmark
// holds N files of one stored folder open with no sharing, starts the
// program, lets its first S minutes pass (10 unless given) and prints the CPU
// time per minute over the next M minutes, of the program and of the
// wineserver, which does the work of every failed open under Wine. The
// wineserver also serves Wine's own background processes: its rate over a
// minute before the program starts is taken off, so that the figure is the
// work the program causes.
//   waiting_bench [M] [N] [S] [program]
// Asserts nothing.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/Version.h"
#include "bench/BenchSupport.h"
#include "common/AppState.h"
#include "common/UniqueHandle.h"
#include "store/Registry.h"

int wmain(int argc, wchar_t** argv) {
    const double minutes = argc > 1 ? _wtof(argv[1]) : 2.0;
    const int files = argc > 2 ? _wtoi(argv[2]) : 10000;
    const double settleMinutes = argc > 3 ? _wtof(argv[3]) : 10.0;
    const std::wstring exe = argc > 4 ? argv[4] : bench::ProgramBeside();

    const std::vector<std::wstring> stored = bench::StoreFolderItems(L"vm-waiting", 1, files);
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName);
    const std::wstring folder = stored.front().substr(0, stored.front().size() - 4);
    std::vector<vaultmere::UniqueHandle> held;
    held.reserve(static_cast<size_t>(files));
    for (int f = 0; f < files; ++f) {
        const std::wstring path = folder + L"\\file" + std::to_wstring(f) + L".dat";
        held.emplace_back(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    int holding = 0;
    for (const auto& file : held) holding += file ? 1 : 0;

    // What the wineserver does without the program: Wine's own processes.
    const double serverBeforeIdle = bench::WineserverCpuSeconds();
    ::Sleep(60000);
    const double serverIdle = bench::WineserverCpuSeconds() - serverBeforeIdle;

    HANDLE resident = bench::StartProgram(exe);
    bool started = false;
    for (int i = 0; i < 3000 && !(started = ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle) != nullptr); ++i) {
        ::Sleep(10);
    }
    if (!started) {
        std::printf("the resident copy did not start\n");
        return 1;
    }
    const bool fromLinux = bench::LinuxCpuSeconds(exe) >= 0;
    const double atStart = bench::CpuSeconds(resident, exe);
    const double serverAtStart = bench::WineserverCpuSeconds();
    ::Sleep(static_cast<DWORD>(settleMinutes * 60000.0));
    const double afterSettling = bench::CpuSeconds(resident, exe);
    const double serverAfterSettling = bench::WineserverCpuSeconds();
    ::Sleep(static_cast<DWORD>(minutes * 60000.0));
    const double atEnd = bench::CpuSeconds(resident, exe);
    const double serverAtEnd = bench::WineserverCpuSeconds();
    const bool withServer = serverAtStart >= 0 && serverAtEnd >= 0;
    const bool stillRunning = ::WaitForSingleObject(resident, 0) == WAIT_TIMEOUT;
    ::TerminateProcess(resident, 0);
    ::CloseHandle(resident);
    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);

    bench::TableHeader();
    bench::Row("waiting: files held by another process", std::to_string(holding) + " of " + std::to_string(files));
    char what[96];
    std::snprintf(what, sizeof what, "waiting: program CPU in the first %.1f min (s)", settleMinutes);
    bench::Row(what, bench::Format("%.2f", afterSettling - atStart));
    if (withServer) {
        std::snprintf(what, sizeof what, "waiting: wineserver CPU in the first %.1f min (s)", settleMinutes);
        bench::Row(what, bench::Format("%.2f", serverAfterSettling - serverAtStart));
    }
    const double program = (atEnd - afterSettling) / minutes;
    const double server = withServer ? (serverAtEnd - serverAfterSettling) / minutes - serverIdle : 0.0;
    std::snprintf(what, sizeof what, "waiting: program CPU per minute, next %.1f min (s)", minutes);
    bench::Row(what, bench::Format("%.3f", program));
    if (withServer) {
        bench::Row("waiting: wineserver CPU per minute before the start (s)", bench::Format("%.3f", serverIdle));
        std::snprintf(what, sizeof what, "waiting: wineserver CPU per minute, next %.1f min (s)", minutes);
        bench::Row(what, bench::Format("%.3f", server + serverIdle));
    }
    bench::Row("waiting: program and wineserver beyond that (s/min)", bench::Format("%.3f", program + server), "< 0.5");
    bench::Row("waiting: CPU times read from", fromLinux ? "Linux /proc" : "Windows");
    bench::Row("waiting: still running at the end", stillRunning ? "yes" : "no");
    return 0;
}
