#pragma once
// The dialog in which the user sets the access password: a first entry and
// a confirmation, then the password goes to the keeper of the list, which
// takes it from then on. One instance, modeless, rebuilt from
// its design-time state at every opening.
#include <windows.h>

#include <functional>
#include <string>

#include "common/AppState.h"
#include "forms/FormKit.h"
#include "forms/config/ItemBook.h"
#include "forms/password/PasswordStages.h"

namespace vaultmere {

constexpr wchar_t kPasswordSetNotice[] = L"The password has been changed.";

class PasswordWindow final : public ui::Form {
public:
    explicit PasswordWindow(AppState& state);

    enum ControlId {
        IDC_PROMPT_LABEL = 100,
        IDC_PASSWORD_EDIT,
        IDC_CANCEL_BUTTON,
        IDC_OK_BUTTON,
        IDC_NOTE_LABEL,
    };

    // Tells the user something went wrong; owner is the dialog. Defaults to
    // a warning message box.
    std::function<void(HWND owner, const std::wstring& text)> showWarning;
    // Tells the user the new password holds now.
    std::function<void()> passwordSet;
    // Whoever keeps the list takes the password.
    ItemBook* book = nullptr;

    const PasswordStages& Stages() const { return stages_; }

protected:
    void Load() override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    void OnClose() override { OnCancel(); }

private:
    void RemoveCloseFromSystemMenu();
    void OnPasswordChange();
    void OnOk();
    void OnCancel();
    void StorePassword(const std::wstring& password);

    AppState& state_;
    PasswordStages stages_;
};

}  // namespace vaultmere
