#include <windows.h>

#include "app/AppState.h"
#include "app/frmPassword.h"
#include "forms/FormKit.h"
#include "forms/config/ItemLists.h"
#include "locker/FileLocker.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    vaultmere::AppState state;
    vaultmere::FileLocker locker;
    vaultmere::ItemLists lists(locker);
    vaultmere::frmPassword prompt(state, lists);

    if (prompt.Form_Load() == vaultmere::frmPassword::Role::SecondStart) return 0;
    return ui::RunMessageLoop();
}
