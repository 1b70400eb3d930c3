// Another program trying to use a file: opens the path given with every kind
// of sharing allowed and exits with the Win32 error (0 when it opened).
//   outsider FILE
// With --watch, a reader waiting for a moment in which the file is free: it
// tries to open it every 2 ms until STOP exists, and writes to REPORT how
// often it opened and the longest stretch in which it did, in milliseconds.
//   outsider --watch FILE STOP REPORT
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

bool Opens(const wchar_t* path) {
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool Say(const wchar_t* report, const char* text, unsigned long opened, ULONGLONG longest) {
    FILE* out = _wfopen(report, L"w");
    if (!out) return false;
    std::fprintf(out, text, opened, longest);
    std::fclose(out);
    return true;
}

int Watch(const wchar_t* path, const wchar_t* stop, const wchar_t* report) {
    // Said at once, so that whoever started the watch knows it runs.
    if (!Say(report, "watching\n", 0, 0)) return ERROR_CANNOT_MAKE;
    unsigned long opened = 0;
    ULONGLONG freeSince = 0;
    ULONGLONG longest = 0;
    ULONGLONG lastLook = ::GetTickCount64();
    while (::GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) {
        const ULONGLONG now = ::GetTickCount64();
        if (Opens(path)) {
            ++opened;
            // A free stretch runs from the last look that found it shut.
            if (freeSince == 0) freeSince = lastLook;
            longest = std::max(longest, now - freeSince);
        } else {
            freeSince = 0;
        }
        lastLook = now;
        ::Sleep(2);
    }
    return Say(report, "opened %lu times, longest free %llu ms\n", opened, longest) ? 0 : ERROR_CANNOT_MAKE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--watch") return Watch(argv[2], argv[3], argv[4]);
    if (argc < 2) return ERROR_INVALID_PARAMETER;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    ::CloseHandle(file);
    return 0;
}
