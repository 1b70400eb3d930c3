#pragma once
// The start-up form: decides whether this process is the resident copy or a
// second start, relocks the stored list, answers show requests and is the
// access password prompt. In the resident copy it stays a hidden top-level
// window carrying the resident marker title for the life of the process.
#include <windows.h>

#include <functional>
#include <thread>

#include "app/Residency.h"
#include "app/SessionNotices.h"
#include "common/AppState.h"
#include "forms/FormKit.h"
#include "forms/config/ItemBook.h"
#include "forms/info/InfoWindow.h"

namespace vaultmere {

class ResidentWindow final : public ui::Form {
public:
    enum class Role { Resident, SecondStart };

    enum ControlId {
        IDC_PROGRAM_ICON = 100,
        IDC_PASSWORD_LABEL,
        IDC_PASSWORD_EDIT,
        IDC_REMEMBER_CHECK,
        IDC_CANCEL_BUTTON,
        IDC_CONTINUE_BUTTON,
        IDC_NOTICE_LABEL,
    };

    ResidentWindow(AppState& state, ItemBook& lists, InfoWindow& messageWindow)
        : state_(state), lists_(lists), messageWindow_(messageWindow) {}
    ~ResidentWindow() override;
    ResidentWindow(const ResidentWindow&) = delete;
    ResidentWindow& operator=(const ResidentWindow&) = delete;

    // Set by its owner: opens the configuration window; the lists changed
    // beside the windows (items whose time was up were locked again); the
    // session was left to others with its unlocked items locked again, so
    // the configuration closes as Close does.
    std::function<void()> showConfiguration;
    std::function<void()> listsChanged;
    std::function<void()> sessionLeft;

    // Start-up: the role by the session's resident mutex, taken before any
    // window is made, and the application folder; as the resident copy it
    // takes the resident marker title, lets the keeper begin (one in this
    // process locks the stored list beside this thread, so show requests
    // are answered meanwhile; the guard's is reached at the first tick) and
    // starts polling for show requests. The window stays hidden.
    Role StartUp();
    // A second start: the "Loading setup..." notice under the show request
    // title, pumping messages, for about a second once the resident copy's
    // window is there (a copy that lost the start-up race waits for it),
    // then gone.
    void RunSecondStart();

    void OnShowRequestTimer();
    void OnNoticeTimer();
    void OnActivate();
    void OnSessionChange(WPARAM change);
    void OnContinue();
    void OnCancel();

protected:
    void Load() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    // The prompt has no control box; nothing closes it but its buttons.
    void OnClose() override {}

private:
    enum TimerId : UINT_PTR { kShowRequestTimer = 1, kNoticeTimer = 2, kWrongPasswordTimer = 3 };
    // Posted by the password check's thread when the answer is in.
    static constexpr UINT kPasswordCheckedMessage = WM_APP + 1;

    // Continue: the keeper checks the password beside the window thread,
    // since the guard may hold its answer back for up to half a minute after
    // wrong passwords, and the prompt keeps painting and can be cancelled
    // meanwhile.
    void ContinueWithKeeper(const std::wstring& entry, bool remember);
    void OnPasswordChecked();
    void EnableEntry(bool enable);
    // What the prompt says about reaching the keeper or the password, under
    // the check box; hidden when there is nothing to say.
    void ShowNotice(const std::wstring& text);
    // What the prompt says now: why the keeper cannot be reached, else what
    // the last password's answer said.
    std::wstring CurrentNotice() const;
    // Counts the wait after a wrong password down, a second at a time.
    void OnWrongPasswordTimer();

    AppState& state_;
    ItemBook& lists_;
    InfoWindow& messageWindow_;
    ResidencyClaim residency_;
    bool noticeShowing_ = false;
    bool residentSeen_ = false;
    int noticeSeconds_ = 0;
    // The running check; its answer and what was entered with it.
    std::thread passwordCheck_;
    PasswordCheck checkAnswer_;
    std::wstring checkedEntry_;
    bool checkedRemember_ = false;
    // What the last answer said, and when the wait after a wrong password
    // ends (GetTickCount64; 0: no wait).
    std::wstring answerNotice_;
    bool wrongPassword_ = false;
    ULONGLONG waitEndsAt_ = 0;
    // Last: let go before the window is.
    SessionNotices sessionNotices_;
};

// Whether another copy of this program file shows a form under the show
// request title. Windows of other programs with that title do not count.
bool IsShowRequestPending();

}  // namespace vaultmere
