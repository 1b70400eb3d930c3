#include "forms/password/PasswordWindow.h"

#include <cwctype>
#include <utility>

#include "common/PasswordVerifier.h"

namespace vaultmere {

namespace {

constexpr int kClientWidth = 3660;
constexpr int kClientHeight = 2100;

// Creation order is the tab order: the box, OK, Cancel, then the labels.
const ui::ControlDesign kControls[] = {
    {PasswordWindow::IDC_PASSWORD_EDIT, 0, L"EDIT", L"", 120, 720, 3375, 295,
     WS_TABSTOP | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {PasswordWindow::IDC_OK_BUTTON, 0, L"BUTTON", L"OK", 2640, 1080, 855, 360,
     WS_TABSTOP | WS_DISABLED | BS_DEFPUSHBUTTON, 0},
    {PasswordWindow::IDC_CANCEL_BUTTON, 0, L"BUTTON", L"Cancel", 1680, 1080, 855, 360, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {PasswordWindow::IDC_PROMPT_LABEL, 0, L"STATIC", kSetPasswordPrompt, 120, 120, 3375, 495, SS_LEFT, 0},
    {PasswordWindow::IDC_NOTE_LABEL, 0, L"STATIC",
     L"Note, when you try to open a locked file it will not ask for a password, it will just not open.", 120, 1560,
     3495, 495, SS_LEFT, 0},
};

void ShowWarningBox(HWND owner, const std::wstring& text) {
    ::MessageBoxW(owner, text.c_str(), L"Vaultmere", MB_OK | MB_ICONWARNING);
}

}  // namespace

PasswordWindow::PasswordWindow(AppState& state) : showWarning(&ShowWarningBox), state_(state) {}

void PasswordWindow::Load() {
    stages_ = PasswordStages();
    const ui::FormDesign design = {L"Change Password",
                                   kClientWidth,
                                   kClientHeight,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                   WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    defaultButtonId_ = IDC_OK_BUTTON;

    ui::MakePasswordField(Control(IDC_PASSWORD_EDIT), kMaxPasswordLength);
    RemoveCloseFromSystemMenu();
}

void PasswordWindow::RemoveCloseFromSystemMenu() {
    if (HMENU menu = ::GetSystemMenu(Handle(), FALSE)) ::RemoveMenu(menu, 5, MF_BYPOSITION);
}

void PasswordWindow::OnCommand(int id, int notifyCode, HWND) {
    switch (id) {
    case IDC_PASSWORD_EDIT:
        if (notifyCode == EN_CHANGE) OnPasswordChange();
        break;
    case IDC_OK_BUTTON:
        if (notifyCode == BN_CLICKED) OnOk();
        break;
    case IDC_CANCEL_BUTTON:
        if (notifyCode == BN_CLICKED) OnCancel();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    default:
        break;
    }
}

void PasswordWindow::OnPasswordChange() {
    ::EnableWindow(Control(IDC_OK_BUTTON), PasswordStages::OkEnabled(ControlText(IDC_PASSWORD_EDIT)) ? TRUE : FALSE);
}

void PasswordWindow::OnOk() {
    const PasswordStages::Outcome outcome = stages_.Ok(ControlText(IDC_PASSWORD_EDIT));
    switch (outcome.step) {
    case PasswordStages::Step::Ignored:
        break;
    case PasswordStages::Step::Confirm:
    case PasswordStages::Step::Mismatch:
        SetControlText(IDC_PASSWORD_EDIT, L"");
        SetControlText(IDC_PROMPT_LABEL, outcome.prompt);
        // OK is disabled now; keep the keyboard in the box rather than on it.
        ::SetFocus(Control(IDC_PASSWORD_EDIT));
        break;
    case PasswordStages::Step::Accept:
        StorePassword(outcome.password);
        Unload();
        break;
    }
}

void PasswordWindow::StorePassword(const std::wstring& password) {
    const BookResult result = book ? book->SetPassword(password) : BookResult();
    if (result.changed) state_.storedPassword = password;
    if (!result.message.empty()) {
        if (showWarning) showWarning(Handle(), result.message);
    } else if (result.changed && passwordSet) {
        passwordSet();
    }
}

void PasswordWindow::OnCancel() {
    stages_.Cancel();
    Unload();
}

}  // namespace vaultmere
