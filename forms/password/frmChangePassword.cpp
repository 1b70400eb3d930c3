#include "forms/password/frmChangePassword.h"

#include "common/SystemError.h"

#include <imm.h>

#include <cwctype>
#include <utility>

namespace vaultmere {

namespace {

constexpr int kClientWidth = 3660;
constexpr int kClientHeight = 2100;
constexpr int kMaxPasswordLength = 8;

// Creation order is the tab order: the box, OK, Cancel, then the labels.
const ui::ControlDesign kControls[] = {
    {frmChangePassword::IDC_TXTPASSWORD, 0, L"EDIT", L"", 120, 720, 3375, 295,
     WS_TABSTOP | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {frmChangePassword::IDC_CMDOK, 0, L"BUTTON", L"OK", 2640, 1080, 855, 360,
     WS_TABSTOP | WS_DISABLED | BS_DEFPUSHBUTTON, 0},
    {frmChangePassword::IDC_CMDCANCEL, 0, L"BUTTON", L"Cancel", 1680, 1080, 855, 360, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {frmChangePassword::IDC_LABEL1, 0, L"STATIC", kSetPasswordPrompt, 120, 120, 3375, 495, SS_LEFT, 0},
    {frmChangePassword::IDC_LABEL2, 0, L"STATIC",
     L"Note, when you try to open a locked file it will not ask for a password, it will just not open.", 120, 1560,
     3495, 495, SS_LEFT, 0},
};

void ShowWarningBox(HWND owner, const std::wstring& text) {
    ::MessageBoxW(owner, text.c_str(), L"Vaultmere", MB_OK | MB_ICONWARNING);
}

}  // namespace

std::wstring PasswordNotSavedMessage(LONG code) {
    if (code == ERROR_ACCESS_DENIED) {
        return L"Only an administrator can change the password. Your new password stays until Vaultmere ends.";
    }
    return L"The password could not be saved (" + SystemErrorText(code) +
           L"). It will only be used until the program ends.";
}

frmChangePassword::frmChangePassword(AppState& state, PasswordStore store)
    : showWarning(&ShowWarningBox), state_(state), store_(std::move(store)) {}

void frmChangePassword::Load() {
    stages_ = PasswordStages();
    const ui::FormDesign design = {L"Change Password",
                                   kClientWidth,
                                   kClientHeight,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                   WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    defaultButtonId_ = IDC_CMDOK;

    HWND box = Control(IDC_TXTPASSWORD);
    ::SendMessageW(box, EM_LIMITTEXT, kMaxPasswordLength, 0);
    ::SendMessageW(box, EM_SETPASSWORDCHAR, L'*', 0);
    // No input method editor: a composition window would show the password.
    ::ImmAssociateContext(box, nullptr);
    Form_Load();
}

void frmChangePassword::Form_Load() { Module1::RemoveSystemMenuItem(Handle(), 5); }

void frmChangePassword::OnCommand(int id, int notifyCode, HWND) {
    switch (id) {
    case IDC_TXTPASSWORD:
        if (notifyCode == EN_CHANGE) txtPassword_Change();
        break;
    case IDC_CMDOK:
        if (notifyCode == BN_CLICKED) cmdOK_Click();
        break;
    case IDC_CMDCANCEL:
        if (notifyCode == BN_CLICKED) cmdCancel_Click();
        break;
    case IDCANCEL:
        cmdCancel_Click();
        break;
    default:
        break;
    }
}

void frmChangePassword::txtPassword_Change() {
    ::EnableWindow(Control(IDC_CMDOK), PasswordStages::OkEnabled(ControlText(IDC_TXTPASSWORD)) ? TRUE : FALSE);
}

void frmChangePassword::cmdOK_Click() {
    const PasswordStages::Outcome outcome = stages_.Ok(ControlText(IDC_TXTPASSWORD));
    switch (outcome.step) {
    case PasswordStages::Step::Ignored:
        break;
    case PasswordStages::Step::Confirm:
    case PasswordStages::Step::Mismatch:
        SetControlText(IDC_TXTPASSWORD, L"");
        SetControlText(IDC_LABEL1, outcome.prompt);
        // OK is disabled now; keep the keyboard in the box rather than on it.
        ::SetFocus(Control(IDC_TXTPASSWORD));
        break;
    case PasswordStages::Step::Accept:
        StorePassword(outcome.password);
        Unload();
        break;
    }
}

void frmChangePassword::StorePassword(const std::wstring& password) {
    const Module1::RegistryStatus status = Module1::SetRegistryValue(store_.root, store_.keyPath,
                                                                     Module1::kPasswordValueName,
                                                                     Module1::RegistryValue::FromText(password));
    state_.storedPassword = password;
    if (!status && showWarning) showWarning(Handle(), PasswordNotSavedMessage(status.code));
}

void frmChangePassword::cmdCancel_Click() {
    stages_.Cancel();
    Unload();
}

}  // namespace vaultmere
