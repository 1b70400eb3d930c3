#include "app/Application.h"

namespace vaultmere {

namespace {

// A window opened by a click comes to the front, also when it was open already.
void ShowInFront(ui::Form& form) {
    form.Show();
    ::SetForegroundWindow(form.Handle());
}

}  // namespace

Application::Application() {
    prompt_.showConfiguration = [this] { ShowConfiguration(); };
    add_.onListsChanged = [this] { configuration_.RefreshLists(); };
    configuration_.showAddDialog = [this] { ShowInFront(add_); };
    configuration_.showPasswordDialog = [this] { ShowInFront(changePassword_); };
}

void Application::ShowConfiguration() {
    // A window left minimized comes back restored.
    configuration_.Show(configuration_.IsLoaded() && ::IsIconic(configuration_.Handle()) ? SW_RESTORE : SW_SHOW);
    configuration_.RefreshLists();
    ::SetForegroundWindow(configuration_.Handle());
}

int Application::Run() {
    if (prompt_.StartUp() == ResidentWindow::Role::SecondStart) {
        prompt_.RunSecondStart();
        return 0;
    }
    // The resident copy ends with the session or by being ended, never on a
    // quit message another program posted: that would drop every lock.
    return ui::RunMessageLoop([] { return false; });
}

}  // namespace vaultmere
