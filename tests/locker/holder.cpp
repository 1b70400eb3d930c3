// Another program keeping a file open, as an editor or a download does:
// opens the path given (creating it when missing) for writing with no
// sharing, writes a line, and keeps it open until it is ended or a minute
// has passed. Exits with the Win32 error when the open fails.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return ERROR_INVALID_PARAMETER;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    const char line[] = "busy\r\n";
    DWORD written = 0;
    ::WriteFile(file, line, sizeof line - 1, &written, nullptr);
    ::Sleep(60000);
    ::CloseHandle(file);
    return 0;
}
