#pragma once
// Small helpers the benchmarks share.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/FolderLane.h"
#include "store/Registry.h"
#include "tests/support/DeleteTree.h"

namespace bench {

// Opens one file the way the locker locks it, but by full path, the way
// another program opens: the bare loop the locker is measured against.
inline vaultmere::UniqueHandle OpenFileLockedByName(const std::wstring& extendedPath) {
    return vaultmere::UniqueHandle(
        ::CreateFileW(extendedPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

inline LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

// The service guard_bench times the guard's start against (bare_service.cpp).
constexpr wchar_t kBareServiceName[] = L"VaultmereBareBench";

// The bare loop: list the folder, open each file as the locker does, keep
// the handles.
inline size_t BareLock(const std::wstring& folder, std::vector<vaultmere::UniqueHandle>& handles) {
    const std::wstring prefix = L"\\\\?\\" + folder + L"\\";
    WIN32_FIND_DATAW found;
    vaultmere::UniqueFindHandle search(::FindFirstFileExW((prefix + L"*.*").c_str(), FindExInfoBasic, &found,
                                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return 0;
    std::wstring path = prefix;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE))
            continue;
        path.resize(prefix.size());
        path += found.cFileName;
        vaultmere::UniqueHandle file = OpenFileLockedByName(path);
        if (file) handles.push_back(std::move(file));
    } while (::FindNextFileW(search.Get(), &found));
    return handles.size();
}

using testing_support::DeleteTree;

inline void WriteEmptyFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

// Makes count folders of filesPerItem empty files each under a folder of
// the temporary folder named tag, and stores them as the program's item list.
inline std::vector<std::wstring> StoreFolderItems(const wchar_t* tag, int count, int filesPerItem) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring root = std::wstring(temp) + tag;
    ::CreateDirectoryW(root.c_str(), nullptr);
    std::vector<std::wstring> stored;
    for (int i = 0; i < count; ++i) {
        const std::wstring folder = root + L"\\item" + std::to_wstring(i);
        ::CreateDirectoryW(folder.c_str(), nullptr);
        for (int f = 0; f < filesPerItem; ++f) WriteEmptyFile(folder + L"\\file" + std::to_wstring(f) + L".dat");
        stored.push_back(folder + L"\\*.*");
    }
    Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, stored);
    return stored;
}

// Starts a program without arguments; returns its process handle or null.
inline HANDLE StartProgram(const std::wstring& exe) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        return nullptr;
    }
    ::CloseHandle(info.hThread);
    return info.hProcess;
}

// The program's exe beside the running benchmark.
inline std::wstring ProgramBeside() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\')) + L"\\brwaddon.exe";
}

inline std::string ReadSmallFile(const std::wstring& path, std::size_t most = 4096) {
    vaultmere::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string text(most, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr)) return std::string();
    text.resize(read);
    return text;
}

// Under Wine another process's times are not reported (they read as zero),
// so they are taken from the Linux process whose command line names exe
// (never a benchmark's own; the newest where several do, since one that was
// stopped may still be ending). -1 when there is no such process.
inline double LinuxCpuSeconds(const std::wstring& exe, const std::string& environmentEntry = std::string()) {
    const std::string wanted(exe.begin(), exe.end());
    WIN32_FIND_DATAW found;
    vaultmere::UniqueFindHandle search(::FindFirstFileW(L"Z:\\proc\\*", &found));
    if (!search) return -1;
    double seconds = -1;
    unsigned long long newest = 0;
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
        const std::string commandLine = ReadSmallFile(folder + L"\\cmdline");
        if (commandLine.find(wanted) == std::string::npos || commandLine.find("_bench") != std::string::npos) {
            continue;
        }
        if (!environmentEntry.empty()) {
            // The entries are separated by NULs: found whole, not as the tail of another.
            const std::string environment = '\0' + ReadSmallFile(folder + L"\\environ", 65536);
            if (environment.find('\0' + environmentEntry + '\0') == std::string::npos) continue;
        }
        // Fields 14, 15 and 22, after the name in parentheses: user and
        // system time in clock ticks of 1/100 s, and the start time.
        const std::string stat = ReadSmallFile(folder + L"\\stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        unsigned long long user = 0, system = 0, started = 0;
        if (std::sscanf(stat.c_str() + close + 1,
                        " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %llu", &user,
                        &system, &started) == 3 &&
            started >= newest) {
            newest = started;
            seconds = static_cast<double>(user + system) / 100.0;
        }
    } while (::FindNextFileW(search.Get(), &found));
    return seconds;
}

// The CPU time of this prefix's wineserver (other prefixes may run their
// own beside it), or -1 when there is none to read (Windows).
inline double WineserverCpuSeconds() {
    char prefix[1024] = {};
    const DWORD length = ::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (length == 0 || length >= sizeof prefix) return -1;
    return LinuxCpuSeconds(L"wineserver", std::string("WINEPREFIX=") + prefix);
}

// A process's CPU time, from Linux under Wine.
inline double CpuSeconds(HANDLE process, const std::wstring& exe) {
    const double linux = LinuxCpuSeconds(exe);
    if (linux >= 0) return linux;
    FILETIME created, ended, kernel, user;
    if (!::GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The benchmarks print rows of one Markdown table: measure, value, target.
// With VAULTMERE_BENCH_ROWS=1 the header is left out, so that several
// benchmarks' rows make one table (bench/run-all.sh).
inline void TableHeader() {
    if (const char* rows = std::getenv("VAULTMERE_BENCH_ROWS"); rows && rows[0] == '1') return;
    std::printf("| %-52s | %22s | %-12s |\n", "measure", "value", "target");
    std::printf("|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(24, '-').c_str(),
                std::string(14, '-').c_str());
}

inline void Row(const char* what, const std::string& value, const char* target = "") {
    std::printf("| %-52s | %22s | %-12s |\n", what, value.c_str(), target);
}

inline std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace bench
