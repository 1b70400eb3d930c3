#pragma once
// Everything one process of the program holds, created in wWinMain and
// alive until the process ends.
#include "app/ResidentWindow.h"
#include "common/AppState.h"
#include "forms/add/AddWindow.h"
#include "forms/config/ConfigWindow.h"
#include "forms/config/ItemLists.h"
#include "forms/info/InfoWindow.h"
#include "forms/password/PasswordWindow.h"
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
    InfoWindow messageWindow_;
    ConfigWindow configuration_{state_, lists_, messageWindow_};
    ResidentWindow prompt_{state_, lists_, messageWindow_};
    PasswordWindow changePassword_{state_};
    AddWindow add_{lists_, state_};
};

}  // namespace vaultmere
