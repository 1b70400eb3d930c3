// Another program holding a file open until it is ended: keeper.exe PATH
// [delete], opened for reading with read sharing, and delete sharing too when
// "delete" is given (as Windows holds a running program's file). Exits with
// the Win32 error when the file cannot be opened. With no path it just runs
// until it is ended.
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
    ::Sleep(INFINITE);
    return 0;
}
