// Another program holding a file open: keeper.exe PATH [delete|none] [FLAG],
// opened for reading with read sharing, and delete sharing too with "delete"
// (as Windows holds a running program's file). With FLAG it creates that
// file once it holds PATH and lets go when FLAG is deleted; else it holds
// PATH until it is ended. Exits with the Win32 error when PATH cannot be
// opened. With no arguments at all it just runs until it is ended.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        ::Sleep(INFINITE);
        return 0;
    }
    const bool shareDelete = argc > 2 && std::wcscmp(argv[2], L"delete") == 0;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | (shareDelete ? FILE_SHARE_DELETE : 0), nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    if (argc < 4) {
        ::Sleep(INFINITE);
        return 0;
    }
    HANDLE flag = ::CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (flag == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    ::CloseHandle(flag);
    while (::GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) ::Sleep(100);
    ::CloseHandle(file);
    return 0;
}
