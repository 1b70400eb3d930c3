#pragma once
// Everything one process of the program holds, created in wWinMain and
// alive until the process ends. Where the guard service is installed, it
// keeps the list and its locks and this copy is only its window; else the
// same keeper runs in this process.
#include <cstddef>
#include <memory>
#include <optional>

#include "app/GuardBook.h"
#include "app/GuardConnection.h"
#include "app/LocalKeeper.h"
#include "app/ResidentWindow.h"
#include "common/AppState.h"
#include "forms/add/AddWindow.h"
#include "forms/add/FolderLockWindow.h"
#include "forms/config/ConfigWindow.h"
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
    // Started by "Lock with Vaultmere" on a folder in Explorer: asks for the
    // password, locks that folder through the guard, and ends.
    int LockFolderFromExplorer(const std::wstring& folder);
    void ShowConfiguration();
    // The session was left to others: the configuration closes as Close does.
    void CloseConfiguration();

    // The link to whoever keeps the list: set up before the windows that
    // show it. Where this process keeps it, its locker's budget is read
    // here, once.
    static std::unique_ptr<GuardLink> MakeLink(std::unique_ptr<FileLocker>& locker);

    AppState state_;
    std::unique_ptr<FileLocker> locker_;
    std::unique_ptr<GuardLink> link_{MakeLink(locker_)};
    GuardBook lists_{*link_};
    InfoWindow messageWindow_;
    ConfigWindow configuration_{state_, lists_, messageWindow_};
    ResidentWindow prompt_{state_, lists_, messageWindow_};
    PasswordWindow changePassword_{state_};
    AddWindow add_{lists_, state_};
};

}  // namespace vaultmere
