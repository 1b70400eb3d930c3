#include <windows.h>

#include "guard/GuardService.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    vaultmere::GuardService service;
    return static_cast<int>(service.Run());
}
