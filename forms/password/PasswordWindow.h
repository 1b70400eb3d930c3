#pragma once
// The dialog in which the user sets the access password: a first entry and
// a confirmation, then the password goes to the registry and replaces the
// running program's stored password. One instance, modeless, rebuilt from
// its design-time state at every opening.
#include <windows.h>

#include <functional>
#include <string>

#include "common/AppState.h"
#include "forms/FormKit.h"
#include "forms/config/ItemBook.h"
#include "forms/password/PasswordStages.h"
#include "store/Registry.h"

namespace vaultmere {

// Where the password is kept between runs.
struct PasswordStore {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring keyPath = Registry::kSettingsKeyPath;
};

class PasswordWindow final : public ui::Form {
public:
    explicit PasswordWindow(AppState& state, PasswordStore store = PasswordStore());

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
    // Where the list is kept elsewhere, the password goes there too.
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
    PasswordStore store_;
    PasswordStages stages_;
};

// What the user is told when the password could not be written.
std::wstring PasswordNotSavedMessage(LONG code);

}  // namespace vaultmere
