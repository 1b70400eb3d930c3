#pragma once
// The window "Lock with Vaultmere" in Explorer opens for one folder: the
// password, whether to take the subfolders too, then the folder is locked
// as Lock Folder in the add dialog locks it, with the same refusals.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "common/AppState.h"
#include "forms/FormKit.h"
#include "forms/add/AddChooser.h"
#include "forms/add/Win32FolderSource.h"
#include "forms/config/ItemBook.h"

namespace vaultmere {

// Its title; any other would do but "Vaultmere", through which copies of
// the program find each other.
constexpr wchar_t kFolderLockTitle[] = L"Lock with Vaultmere";

class FolderLockWindow final : public ui::Form {
public:
    enum ControlId {
        IDC_PROGRAM_ICON = 100,
        IDC_QUESTION_LABEL,
        IDC_FOLDER_LABEL,
        IDC_SUBFOLDERS_CHECK,
        IDC_PASSWORD_LABEL,
        IDC_PASSWORD_EDIT,
        IDC_STATUS_LABEL,
        IDC_LOCK_BUTTON,
        IDC_CANCEL_BUTTON,
    };

    FolderLockWindow(ItemBook& lists, const AppState& state, std::wstring folder);
    ~FolderLockWindow() override;
    FolderLockWindow(const FolderLockWindow&) = delete;
    FolderLockWindow& operator=(const FolderLockWindow&) = delete;

    // Tells the user why the folder is refused; tests put their own in its place.
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)> messageBox;
    // The window closed, whatever became of the folder.
    std::function<void()> closed;

    void OnLock();
    // Whether the folder was locked.
    bool Locked() const { return locked_; }

protected:
    void Load() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    void OnUnloaded() override;

private:
    static constexpr UINT kPasswordCheckedMessage = WM_APP + 1;
    void OnPasswordChecked();
    void LockFolder();
    void EnableEntry(bool enable);

    ItemBook& lists_;
    const AppState& state_;
    std::wstring folder_;
    Win32FolderSource source_;
    AddChooser chooser_{source_};
    std::thread passwordCheck_;
    PasswordCheck checkAnswer_;
    bool locked_ = false;
};

}  // namespace vaultmere
