// Start-up relock: the resident copy's start with N stored items (folders
// of F files each), against a bare loop that reads the key once and opens
// the same files the same way. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/GuardBook.h"
#include "app/LocalKeeper.h"
#include "app/ResidentWindow.h"
#include "bench/BenchSupport.h"
#include "common/AppState.h"
#include "forms/info/InfoWindow.h"
#include "locker/FileLocker.h"
#include "store/Registry.h"

int wmain(int argc, wchar_t** argv) {
    const int items = argc > 1 ? _wtoi(argv[1]) : 1000;
    const int filesPerItem = argc > 2 ? _wtoi(argv[2]) : 10;
    if (::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle)) {
        std::printf("a resident copy is running; stop it first\n");
        return 1;
    }

    bench::StoreFolderItems(L"vm-startup-bench", items, filesPerItem);

    // Bare: one read of the key, then enumerate and open every file.
    double bare = 0;
    {
        const LARGE_INTEGER start = bench::Now();
        std::vector<vaultmere::UniqueHandle> handles;
        for (const std::wstring& item : Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath)) {
            const std::wstring folder = L"\\\\?\\" + item.substr(0, item.size() - 4);
            WIN32_FIND_DATAW found;
            HANDLE search = ::FindFirstFileExW((folder + L"\\*.*").c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
            if (search == INVALID_HANDLE_VALUE) continue;
            do {
                if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) continue;
                handles.push_back(bench::OpenFileLockedByName(folder + L"\\" + found.cFileName));
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        bare = bench::Seconds(start, bench::Now());
    }

    // The first window of a process pays for the window system's own set-up
    // (under Wine, the X connection); that is measured apart.
    double firstWindow = 0;
    {
        const LARGE_INTEGER start = bench::Now();
        vaultmere::InfoWindow warmUp;
        warmUp.SetMessage(L"");
        warmUp.Unload();
        firstWindow = bench::Seconds(start, bench::Now());
    }

    // The program's start-up: role decision, relock of every stored item.
    double startup = 0;
    double windowFree = 0;
    size_t locked = 0;
    {
        vaultmere::AppState state;
        vaultmere::FileLocker locker;
        vaultmere::LocalKeeper keeper(locker);
        vaultmere::GuardBook lists(keeper);
        vaultmere::InfoWindow messageWindow;
        vaultmere::ResidentWindow prompt(state, lists, messageWindow);
        const LARGE_INTEGER start = bench::Now();
        prompt.StartUp();
        windowFree = bench::Seconds(start, bench::Now());
        // The locker locks beside the window thread: timed until every file is held.
        const size_t expected = static_cast<size_t>(items) * static_cast<size_t>(filesPerItem);
        const ULONGLONG giveUp = ::GetTickCount64() + 120000;
        while (locker.Report().lockedFiles < expected && ::GetTickCount64() < giveUp) ::Sleep(1);
        startup = bench::Seconds(start, bench::Now());
        locked = locker.Report().lockedFiles;
    }

    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
    bench::TableHeader();
    bench::Row("start-up: stored items x files each", std::to_string(items) + " x " + std::to_string(filesPerItem));
    bench::Row("start-up: files locked", std::to_string(locked));
    bench::Row("start-up: first window of the process (s, apart)", bench::Format("%.3f", firstWindow));
    bench::Row("start-up: role and key read, window thread free (s)", bench::Format("%.3f", windowFree));
    bench::Row("start-up: role, key read and relock until held (s)", bench::Format("%.3f", startup));
    bench::Row("start-up: one key read and bare open loop (s)", bench::Format("%.3f", bare));
    bench::Row("start-up / bare", bench::Format("%.2f", bare > 0 ? startup / bare : 0.0), "<= 1.3");
    return 0;
}
