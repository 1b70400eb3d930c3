#include "forms/info/InfoWindow.h"

namespace vaultmere {

namespace {

// SS_NOTIFY makes the label and the image take their own clicks, so only a
// click on the bare surface reaches the form.
const ui::ControlDesign kControls[] = {
    {InfoWindow::IDC_OK_BUTTON, 0, L"BUTTON", L"OK", 3720, 2040, 1095, 375, WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {InfoWindow::IDC_MESSAGE_LABEL, 0, L"STATIC", L"Label1", 960, 120, 3855, 1695, SS_LEFT | SS_NOTIFY | SS_NOPREFIX,
     0},
    {InfoWindow::IDC_PROGRAM_ICON, 0, L"STATIC", nullptr, 240, 240, 480, 480, SS_ICON | SS_NOTIFY, 0},
};

}  // namespace

std::wstring WithLineBreaks(const std::wstring& text) {
    std::wstring shown;
    shown.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        shown.push_back(text[i]);
        if (text[i] == L'\r' && (i + 1 == text.size() || text[i + 1] != L'\n')) shown.push_back(L'\n');
    }
    return shown;
}

void InfoWindow::Load() {
    const ui::FormDesign design = {L"Vaultmere Information",
                                   4950,
                                   2565,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                   WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    defaultButtonId_ = IDC_OK_BUTTON;
    message_ = L"Label1";
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ui::kProgramIconId));
    ::SendMessageW(Control(IDC_PROGRAM_ICON), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}

void InfoWindow::SetCaptionText(const std::wstring& caption) {
    EnsureLoaded();
    SetCaption(caption);
}

void InfoWindow::SetMessage(const std::wstring& text) {
    EnsureLoaded();
    message_ = text;
    SetControlText(IDC_MESSAGE_LABEL, WithLineBreaks(text));
}

void InfoWindow::SetOkVisible(bool visible) {
    EnsureLoaded();
    ::ShowWindow(Control(IDC_OK_BUTTON), visible ? SW_SHOW : SW_HIDE);
    defaultButtonId_ = visible ? IDC_OK_BUTTON : 0;
}

void InfoWindow::OnOk() { Unload(); }

void InfoWindow::OnSurfaceClick() { Unload(); }

void InfoWindow::OnCommand(int id, int notifyCode, HWND) {
    // Enter arrives as IDOK or as the default button; a hidden OK does nothing.
    if ((id == IDC_OK_BUTTON || id == IDOK) && notifyCode == BN_CLICKED && ::IsWindowVisible(Control(IDC_OK_BUTTON))) {
        OnOk();
    }
    // No cancel button: Esc (IDCANCEL) does nothing.
}

LRESULT InfoWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONUP) {
        OnSurfaceClick();
        return 0;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace vaultmere
