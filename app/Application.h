#pragma once
// Everything one process of the program holds, created in wWinMain and
// alive until the process ends.
#include "app/frmPassword.h"
#include "common/AppState.h"
#include "forms/add/frmAdd.h"
#include "forms/config/Form1.h"
#include "forms/config/ItemLists.h"
#include "forms/info/frmmsg.h"
#include "forms/password/frmChangePassword.h"
#include "locker/FileLocker.h"

namespace vaultmere {

class Application {
public:
    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    int Run();

private:
    void ShowConfiguration();

    AppState state_;
    FileLocker locker_;
    ItemLists lists_{locker_};
    frmmsg messageWindow_;
    Form1 configuration_{state_, lists_, messageWindow_};
    frmPassword prompt_{state_, lists_, messageWindow_};
    frmChangePassword changePassword_{state_};
    frmAdd add_{lists_, state_};
};

}  // namespace vaultmere
