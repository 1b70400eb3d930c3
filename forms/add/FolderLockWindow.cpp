#include "forms/add/FolderLockWindow.h"

#include <utility>

#include "common/EntryPoint.h"
#include "common/PasswordVerifier.h"
#include "common/SecureText.h"

namespace vaultmere {

namespace {

constexpr wchar_t kApplicationTitle[] = L"Vaultmere";
constexpr wchar_t kCheckingPassword[] = L"Checking the password...";
constexpr wchar_t kPasswordNotChecked[] = L"The password could not be checked. Try again.";

// Creation order is the tab order: the password, the box, then the buttons.
const ui::ControlDesign kControls[] = {
    {FolderLockWindow::IDC_PASSWORD_EDIT, 0, L"EDIT", L"", 960, 1680, 2655, 315,
     WS_TABSTOP | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {FolderLockWindow::IDC_SUBFOLDERS_CHECK, 0, L"BUTTON", L"Include subfolders", 960, 1020, 2655, 255,
     WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {FolderLockWindow::IDC_LOCK_BUTTON, 0, L"BUTTON", L"Lock Folder", 1800, 2580, 1095, 375,
     WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {FolderLockWindow::IDC_CANCEL_BUTTON, 0, L"BUTTON", L"Cancel", 3000, 2580, 855, 375, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {FolderLockWindow::IDC_PROGRAM_ICON, 0, L"STATIC", nullptr, 180, 240, 480, 480, SS_ICON | SS_CENTERIMAGE, 0},
    {FolderLockWindow::IDC_QUESTION_LABEL, 0, L"STATIC", L"Lock this folder?", 960, 240, 2895, 255, SS_LEFT, 0},
    {FolderLockWindow::IDC_FOLDER_LABEL, 0, L"STATIC", L"", 960, 540, 2895, 255, SS_LEFT | SS_NOPREFIX, 0},
    {FolderLockWindow::IDC_PASSWORD_LABEL, 0, L"STATIC", L"Password", 960, 1380, 2655, 255, SS_LEFT, 0},
    {FolderLockWindow::IDC_STATUS_LABEL, 0, L"STATIC", L"", 960, 2100, 2895, 255, SS_LEFT | SS_NOPREFIX, 0},
};

}  // namespace

FolderLockWindow::FolderLockWindow(ItemBook& lists, const AppState& state, std::wstring folder)
    : messageBox([](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
          return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
      }),
      lists_(lists),
      state_(state),
      folder_(std::move(folder)) {}

FolderLockWindow::~FolderLockWindow() {
    // The keeper's answer is bounded: the check ends by itself.
    if (passwordCheck_.joinable()) passwordCheck_.join();
}

void FolderLockWindow::Load() {
    const ui::FormDesign design = {
        kFolderLockTitle, 4080, 3135, WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_APPWINDOW | WS_EX_DLGMODALFRAME, true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    defaultButtonId_ = IDC_LOCK_BUTTON;
    ui::MakePasswordField(Control(IDC_PASSWORD_EDIT), kMaxPasswordLength);
    ui::ShowProgramIcon(Control(IDC_PROGRAM_ICON));
    SetControlText(IDC_FOLDER_LABEL, folder_);
}

void FolderLockWindow::EnableEntry(bool enable) {
    for (const int id : {IDC_PASSWORD_EDIT, IDC_SUBFOLDERS_CHECK, IDC_LOCK_BUTTON}) {
        ::EnableWindow(Control(id), enable ? TRUE : FALSE);
    }
}

void FolderLockWindow::OnLock() {
    if (passwordCheck_.joinable() || locked_) return;
    std::wstring entry = PasswordOf(ControlText(IDC_PASSWORD_EDIT));
    SetControlText(IDC_PASSWORD_EDIT, std::wstring());
    EnableEntry(false);
    SetControlText(IDC_STATUS_LABEL, kCheckingPassword);
    const HWND window = Handle();
    // The guard may hold a password's answer back for a while: the window
    // keeps painting and can be cancelled meanwhile.
    passwordCheck_ = std::thread([this, window, secret = std::move(entry)]() mutable {
        checkAnswer_ = RunGuarded(L"the password check", AfterEscape::GoOn, PasswordCheck{false, kPasswordNotChecked},
                                  [this, &secret] { return lists_.CheckPassword(secret); });
        WipeText(secret);
        ::PostMessageW(window, kPasswordCheckedMessage, 0, 0);
    });
}

void FolderLockWindow::OnPasswordChecked() {
    if (!passwordCheck_.joinable()) return;
    passwordCheck_.join();
    EnableEntry(true);
    if (!checkAnswer_.accepted) {
        SetControlText(IDC_STATUS_LABEL, checkAnswer_.message.empty() ? L"Wrong password." : checkAnswer_.message);
        ::MessageBeep(MB_OK);
        ::SetFocus(Control(IDC_PASSWORD_EDIT));
        return;
    }
    LockFolder();
}

void FolderLockWindow::LockFolder() {
    const bool withSubfolders = ::SendMessageW(Control(IDC_SUBFOLDERS_CHECK), BM_GETCHECK, 0, 0) == BST_CHECKED;
    // The folder is taken as if typed into the add dialog, and refused as there.
    const TypedFolderOutcome opened = chooser_.OpenTypedFolder(folder_);
    LockFolderPlan plan;
    if (opened.result == TypedFolderOutcome::Result::Opened) {
        plan = chooser_.PlanLockFolder(withSubfolders);
    }
    std::wstring refusal = opened.message.empty() ? plan.refusal : opened.message;
    if (refusal.empty()) refusal = kFolderNotFound;
    if (plan.action == LockFolderPlan::Action::Add) {
        SetControlText(IDC_STATUS_LABEL, plan.confirmation);
        ::UpdateWindow(Control(IDC_STATUS_LABEL));
        const BookResult result = lists_.LockNewItem(plan.item, nullptr);
        locked_ = result.message.empty();
        refusal = result.message;
    }
    if (locked_) {
        // Done: only the window is left to close.
        EnableEntry(false);
        SetControlText(IDC_CANCEL_BUTTON, L"Close");
        ::SetFocus(Control(IDC_CANCEL_BUTTON));
        return;
    }
    SetControlText(IDC_STATUS_LABEL, std::wstring());
    if (messageBox) messageBox(Handle(), refusal, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
}

void FolderLockWindow::OnCommand(int id, int notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) return;
    switch (id) {
    case IDC_LOCK_BUTTON:
    case IDOK:
        OnLock();
        break;
    case IDC_CANCEL_BUTTON:
    case IDCANCEL:
        Unload();
        break;
    default:
        break;
    }
}

void FolderLockWindow::OnUnloaded() {
    if (closed) closed();
}

LRESULT FolderLockWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPasswordCheckedMessage) {
        OnPasswordChecked();
        return 0;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace vaultmere
