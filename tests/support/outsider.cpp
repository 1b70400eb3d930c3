// Another program trying to use a file: opens the path given with every kind
// of sharing allowed and exits with the Win32 error (0 when it opened).
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return ERROR_INVALID_PARAMETER;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    ::CloseHandle(file);
    return 0;
}
