#include <windows.h>

#include "app/Application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Whatever is loaded from here on comes from the system folder, never
    // from the program's own folder or the current one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    vaultmere::Application application;
    return application.Run();
}
