#include "app/ResidentWindow.h"

#include "app/PasswordPrompt.h"
#include "common/EntryPoint.h"
#include "common/PasswordVerifier.h"
#include "common/RelockSchedule.h"
#include "common/SecureText.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCheckingPassword[] = L"Checking the password...";
constexpr wchar_t kPasswordNotChecked[] = L"The password could not be checked. Try again.";

constexpr int kClientWidth = 3810;
constexpr int kClientHeight = 1695;

const ui::ControlDesign kControls[] = {
    {ResidentWindow::IDC_PASSWORD_EDIT, 0, L"EDIT", L"", 960, 480, 2655, 315,
     WS_TABSTOP | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {ResidentWindow::IDC_CONTINUE_BUTTON, 0, L"BUTTON", L"Continue", 2760, 1140, 855, 375,
     WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {ResidentWindow::IDC_CANCEL_BUTTON, 0, L"BUTTON", L"Cancel", 1800, 1140, 855, 375, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {ResidentWindow::IDC_PASSWORD_LABEL, 0, L"STATIC", L"Password", 960, 240, 735, 255, SS_LEFT, 0},
    {ResidentWindow::IDC_REMEMBER_CHECK, 0, L"BUTTON", L"Remember it until I restart", 960, 840, 2415, 255,
     WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {ResidentWindow::IDC_PROGRAM_ICON, 0, L"STATIC", nullptr, 180, 240, 480, 480, SS_ICON | SS_CENTERIMAGE, 0},
    {ResidentWindow::IDC_NOTICE_LABEL, 0, L"STATIC", L"", 180, 1140, 1530, 495, SS_LEFT | SS_NOPREFIX, 0},
};

}  // namespace

ResidentWindow::~ResidentWindow() {
    // The keeper's answer is bounded: the check ends by itself.
    if (passwordCheck_.joinable()) passwordCheck_.join();
}

void ResidentWindow::Load() {
    const ui::FormDesign design = {L"Vaultmere Configuration",
                                   kClientWidth,
                                   kClientHeight,
                                   WS_POPUP | WS_CAPTION,
                                   WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    defaultButtonId_ = IDC_CONTINUE_BUTTON;
    ui::MakePasswordField(Control(IDC_PASSWORD_EDIT), kMaxPasswordLength);
    ui::ShowProgramIcon(Control(IDC_PROGRAM_ICON));
    ShowNotice(std::wstring());
}

void ResidentWindow::ShowNotice(const std::wstring& text) {
    if (text != ControlText(IDC_NOTICE_LABEL)) SetControlText(IDC_NOTICE_LABEL, text);
    ::ShowWindow(Control(IDC_NOTICE_LABEL), text.empty() ? SW_HIDE : SW_SHOWNA);
}

ResidentWindow::Role ResidentWindow::StartUp() {
    residency_ = ClaimResidency(kResidentMutexName);
    Load();
    state_.applicationFolder = ProgramFolder() + L"\\";
    if (!residency_.resident) return Role::SecondStart;

    SetCaption(kResidentMarkerTitle);
    // Without them (a system without terminal services) nothing is
    // relocked at a locked session; everything else works.
    sessionNotices_.Start(Handle());
    // Where the guard keeps the list, the first tick connects: the start
    // never waits on its pipe.
    lists_.Begin();
    ::SetTimer(Handle(), kShowRequestTimer, 1000, nullptr);
    return Role::Resident;
}

void ResidentWindow::RunSecondStart() {
    // The user just started this copy, so it may hand the foreground on to
    // the resident copy's prompt.
    ::AllowSetForegroundWindow(ASFW_ANY);
    messageWindow_.SetCaptionText(kShowRequestTitle);
    messageWindow_.SetMessage(L"Loading setup...");
    messageWindow_.SetOkVisible(false);
    messageWindow_.Show();

    residentSeen_ = FindFormOfOtherProcess(kResidentMarkerTitle) != nullptr;
    noticeSeconds_ = 0;
    ::SetTimer(Handle(), kNoticeTimer, 1000, nullptr);
    noticeShowing_ = true;
    while (noticeShowing_) {
        if (!ui::PumpMessages()) break;
        if (noticeShowing_) ::WaitMessage();
    }
    messageWindow_.Unload();
}

void ResidentWindow::OnNoticeTimer() {
    // The request stands for one whole poll of the resident copy once its
    // window is there. A resident that holds the mutex but makes no window
    // is not waited for without end.
    constexpr int kLongestWaitSeconds = 10;
    ++noticeSeconds_;
    if (!residentSeen_ && noticeSeconds_ < kLongestWaitSeconds) {
        residentSeen_ = FindFormOfOtherProcess(kResidentMarkerTitle) != nullptr;
        return;
    }
    ::KillTimer(Handle(), kNoticeTimer);
    noticeShowing_ = false;
}

bool IsShowRequestPending() { return FindFormOfOtherCopy(kShowRequestTitle) != nullptr; }

void ResidentWindow::OnShowRequestTimer() {
    // While a check runs, the connection is its thread's.
    if (!passwordCheck_.joinable()) {
        lists_.Tick();
        ShowNotice(CurrentNotice());
    }
    if (lists_.RelockDue() && listsChanged) listsChanged();
    if (!IsShowRequestPending()) return;
    // A prompt already shown may lie buried under other windows, and it has
    // no taskbar button: it comes to the front again.
    if (!IsVisible()) Show(SW_SHOW);
    ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(Handle());
}

std::wstring ResidentWindow::CurrentNotice() const {
    std::wstring keeper = lists_.Notice();
    if (!keeper.empty()) return keeper;
    if (!wrongPassword_) return answerNotice_;
    const ULONGLONG now = ::GetTickCount64();
    return WrongPasswordNotice(waitEndsAt_ > now ? waitEndsAt_ - now : 0);
}

void ResidentWindow::OnWrongPasswordTimer() {
    if (waitEndsAt_ <= ::GetTickCount64()) ::KillTimer(Handle(), kWrongPasswordTimer);
    if (!passwordCheck_.joinable()) ShowNotice(CurrentNotice());
}

void ResidentWindow::OnActivate() {
    const std::wstring field = ControlText(IDC_PASSWORD_EDIT);
    const std::wstring text = PromptTextOnActivate(state_, field);
    if (text != field) SetControlText(IDC_PASSWORD_EDIT, text);
}

void ResidentWindow::OnSessionChange(WPARAM change) {
    if (!LeavesSessionToOthers(static_cast<std::uint32_t>(change))) return;
    if (lists_.LeaveSession() && sessionLeft) sessionLeft();
}

void ResidentWindow::OnContinue() {
    std::wstring entry = PasswordOf(ControlText(IDC_PASSWORD_EDIT));
    SetControlText(IDC_PASSWORD_EDIT, entry);
    const bool remember = ::SendMessageW(Control(IDC_REMEMBER_CHECK), BM_GETCHECK, 0, 0) == BST_CHECKED;
    ContinueWithKeeper(entry, remember);
    WipeText(entry);
}

void ResidentWindow::ContinueWithKeeper(const std::wstring& entry, bool remember) {
    if (passwordCheck_.joinable()) return;
    checkedEntry_ = entry;
    checkedRemember_ = remember;
    EnableEntry(false);
    ShowNotice(kCheckingPassword);
    const HWND window = Handle();
    passwordCheck_ = std::thread([this, window, secret = entry]() mutable {
        // Whatever escapes the check, the prompt gets its answer.
        checkAnswer_ = RunGuarded(L"the password check", AfterEscape::GoOn, PasswordCheck{false, kPasswordNotChecked},
                                  [this, &secret] { return lists_.CheckPassword(secret); });
        WipeText(secret);
        ::PostMessageW(window, kPasswordCheckedMessage, 0, 0);
    });
}

void ResidentWindow::OnPasswordChecked() {
    if (!passwordCheck_.joinable()) return;
    passwordCheck_.join();
    EnableEntry(true);
    SetControlText(IDC_PASSWORD_EDIT, std::wstring());
    answerNotice_ = checkAnswer_.message;
    // An answer that could not be checked is no wrong password.
    wrongPassword_ = !checkAnswer_.accepted && answerNotice_.empty();
    waitEndsAt_ = wrongPassword_ && checkAnswer_.waitMs > 0 ? ::GetTickCount64() + checkAnswer_.waitMs : 0;
    if (waitEndsAt_ != 0) ::SetTimer(Handle(), kWrongPasswordTimer, 1000, nullptr);
    ShowNotice(CurrentNotice());
    if (!checkAnswer_.accepted) {
        WipeText(checkedEntry_);
        if (!IsVisible()) return;
        ::MessageBeep(MB_OK);
        ::SetFocus(Control(IDC_PASSWORD_EDIT));
        return;
    }
    // The accepted text is what Remember fills in again, and it is kept
    // only for that.
    WipeText(state_.storedPassword);
    if (checkedRemember_) state_.storedPassword = checkedEntry_;
    WipeText(checkedEntry_);
    state_.rememberFlag = checkedRemember_;
    // Cancelled while the answer was on its way: nothing is opened.
    if (!IsVisible()) return;
    if (showConfiguration) showConfiguration();
    Hide();
}

void ResidentWindow::EnableEntry(bool enable) {
    for (const int id : {IDC_PASSWORD_EDIT, IDC_REMEMBER_CHECK, IDC_CONTINUE_BUTTON}) {
        ::EnableWindow(Control(id), enable ? TRUE : FALSE);
    }
}

void ResidentWindow::OnCancel() {
    // The next time the prompt opens it starts afresh; the keeper's wait,
    // if any, still holds.
    wrongPassword_ = false;
    answerNotice_.clear();
    ShowNotice(CurrentNotice());
    Hide();
}

void ResidentWindow::OnCommand(int id, int notifyCode, HWND) {
    if (notifyCode != BN_CLICKED) return;
    switch (id) {
    case IDC_CONTINUE_BUTTON:
    case IDOK:
        OnContinue();
        break;
    case IDC_CANCEL_BUTTON:
    case IDCANCEL:
        OnCancel();
        break;
    default:
        break;
    }
}

LRESULT ResidentWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPasswordCheckedMessage) {
        OnPasswordChecked();
        return 0;
    }
    if (message == WM_WTSSESSION_CHANGE) {
        OnSessionChange(wParam);
        return 0;
    }
    if (message == WM_TIMER) {
        if (wParam == kShowRequestTimer) OnShowRequestTimer();
        if (wParam == kNoticeTimer) OnNoticeTimer();
        if (wParam == kWrongPasswordTimer) OnWrongPasswordTimer();
        return 0;
    }
    const LRESULT result = Form::HandleMessage(message, wParam, lParam);
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        OnActivate();
        ::SetFocus(Control(IDC_PASSWORD_EDIT));
    }
    return result;
}

}  // namespace vaultmere
