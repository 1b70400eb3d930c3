#pragma once
// Small helpers the benchmarks share.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "store/Registry.h"

namespace bench {

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
