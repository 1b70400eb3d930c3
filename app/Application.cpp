#include "app/Application.h"

#include <shellapi.h>

#include "app/ProgramCopy.h"
#include "store/LockBudgetStore.h"

namespace vaultmere {

namespace {

// The folder of "--lock FOLDER", the command of the folder verb in Explorer.
std::optional<std::wstring> FolderToLock() {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const UniqueLocalMemory owned(static_cast<HLOCAL>(argv));
    if (!argv || count != 3 || lstrcmpiW(argv[1], L"--lock") != 0 || argv[2][0] == L'\0') return std::nullopt;
    std::wstring folder = argv[2];
    // "C:\" on a command line reads as C: and a quote.
    if (folder.back() == L'"') folder.back() = L'\\';
    return folder;
}

// A window opened by a click comes to the front, also when it was open already.
void ShowInFront(ui::Form& form) {
    form.Show();
    ::SetForegroundWindow(form.Handle());
}

}  // namespace

std::unique_ptr<GuardLink> Application::MakeLink(std::unique_ptr<FileLocker>& locker) {
    // Whether the guard is there is the service manager's word, never the
    // pipe's: a copy must not lock for itself because the guard is slow.
    if (IsServiceInstalled(kGuardServiceName)) return std::make_unique<GuardConnection>();
    // No event source of the program's own: a bad value is ignored unlogged.
    const LockBudget budget = Registry::ReadLockBudget().budget;
    locker = std::make_unique<FileLocker>(budget);
    return std::make_unique<LocalKeeper>(*locker, ProgramStoreKeys(), budget.treeLimit);
}

Application::Application() {
    changePassword_.book = &lists_;
    changePassword_.passwordSet = [this] {
        messageWindow_.SetMessage(kPasswordSetNotice);
        ShowInFront(messageWindow_);
    };
    prompt_.showConfiguration = [this] { ShowConfiguration(); };
    prompt_.listsChanged = [this] { configuration_.RefreshLists(); };
    prompt_.sessionLeft = [this] { CloseConfiguration(); };
    add_.onListsChanged = [this] { configuration_.RefreshLists(); };
    configuration_.showAddDialog = [this] { ShowInFront(add_); };
    configuration_.showPasswordDialog = [this] { ShowInFront(changePassword_); };
    configuration_.startProgram = &StartProgramCopy;
}

void Application::ShowConfiguration() {
    // A window left minimized comes back restored.
    configuration_.Show(configuration_.IsLoaded() && ::IsIconic(configuration_.Handle()) ? SW_RESTORE : SW_SHOW);
    lists_.Reload();
    configuration_.RefreshLists();
    ::SetForegroundWindow(configuration_.Handle());
}

void Application::CloseConfiguration() {
    configuration_.RefreshLists();
    if (configuration_.IsLoaded() && configuration_.IsVisible()) configuration_.OnCloseButton();
}

int Application::LockFolderFromExplorer(const std::wstring& folder) {
    // This copy is none of the session's resident copies: it takes no
    // residency, locks nothing of its own and ends with its window.
    state_.applicationFolder = ProgramFolder() + L"\\";
    if (!IsServiceInstalled(kGuardServiceName)) {
        ::MessageBoxW(nullptr, L"Locking a folder from Explorer needs Vaultmere Guard, which the setup installs.",
                      kFolderLockTitle, MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    FolderLockWindow window(lists_, state_, folder);
    window.closed = [] { ::PostQuitMessage(0); };
    window.Show();
    ::SetForegroundWindow(window.Handle());
    ui::RunMessageLoop([] { return true; });
    return window.Locked() ? 0 : 1;
}

int Application::Run() {
    if (const std::optional<std::wstring> folder = FolderToLock()) return LockFolderFromExplorer(*folder);
    if (prompt_.StartUp() == ResidentWindow::Role::SecondStart) {
        prompt_.RunSecondStart();
        return 0;
    }
    // The resident copy ends with the session or by being ended, never on a
    // quit message another program posted: that would drop every lock.
    return ui::RunMessageLoop([] { return false; });
}

}  // namespace vaultmere
