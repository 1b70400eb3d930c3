#include "app/Application.h"

namespace vaultmere {

Application::Application() {
    prompt_.showConfiguration = [this] { ShowConfiguration(); };
    add_.onListsChanged = [this] { configuration_.RefreshLists(); };
    configuration_.showAddDialog = [this] {
        add_.Show();
        ::SetForegroundWindow(add_.Handle());
    };
    configuration_.showPasswordDialog = [this] {
        changePassword_.Show();
        ::SetForegroundWindow(changePassword_.Handle());
    };
}

void Application::ShowConfiguration() {
    configuration_.Show(SW_SHOW);
    configuration_.RefreshLists();
    ::SetForegroundWindow(configuration_.Handle());
}

int Application::Run() {
    if (prompt_.Form_Load() == frmPassword::Role::SecondStart) {
        prompt_.RunSecondStart();
        return 0;
    }
    return ui::RunMessageLoop();
}

}  // namespace vaultmere
