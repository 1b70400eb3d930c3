#include <windows.h>

#include "guard/GuardService.h"
#include "guard/HandOver.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR lpCmdLine, int) {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A copy of this program started by the guard to keep its files over an update.
    if (lpCmdLine && std::wstring(lpCmdLine) == vaultmere::kHolderArgument) return vaultmere::RunHolder();
    vaultmere::GuardService service;
    return static_cast<int>(service.Run());
}
