#pragma once
// Everything one process of the program holds, created in wWinMain and
// alive until the process ends. Where the guard service is installed, it
// holds the list and its locks and this copy is only its window; else this
// process locks the list itself.
#include <memory>

#include "app/GuardConnection.h"
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
    // The session was left to others: the configuration closes as Close does.
    void CloseConfiguration();

    // The one that holds the list: set up before the windows that show it.
    static std::unique_ptr<ItemBook> MakeBook(std::unique_ptr<FileLocker>& locker,
                                              std::unique_ptr<GuardConnection>& guard);

    AppState state_;
    std::unique_ptr<FileLocker> locker_;
    std::unique_ptr<GuardConnection> guard_;
    std::unique_ptr<ItemBook> book_{MakeBook(locker_, guard_)};
    ItemBook& lists_{*book_};
    InfoWindow messageWindow_;
    ConfigWindow configuration_{state_, lists_, messageWindow_};
    ResidentWindow prompt_{state_, lists_, messageWindow_};
    PasswordWindow changePassword_{state_};
    AddWindow add_{lists_, state_};
};

}  // namespace vaultmere
