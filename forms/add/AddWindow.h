#pragma once
// The add dialog: a drive, folder and file chooser and Lock Folder, which
// puts the folder the chooser shows on the configuration window's locked and
// persisted lists and locks it at once. Modeless and unowned; closing it
// unloads it, so every opening starts afresh at the process's current folder.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/AppState.h"
#include "forms/FormKit.h"
#include "forms/add/AddChooser.h"
#include "forms/add/ChooserViews.h"
#include "forms/add/Win32FolderSource.h"
#include "forms/config/ItemBook.h"

namespace vaultmere {

class AddWindow final : public ui::Form {
public:
    AddWindow(ItemBook& lists, const AppState& state);
    // Reads drives and folders through source instead of the disks.
    AddWindow(ItemBook& lists, const AppState& state, FolderSource& source);

    // Runs after Lock Folder has changed the lists, before the lock call.
    std::function<void()> onListsChanged;
    // Shows why a folder was not locked, as the keeper of the list says:
    // the system's modal message box unless replaced.
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)> messageBox;

    enum ControlId {
        IDC_NOTE_LABEL = 100,
        IDC_CHOOSER_PANEL,
        IDC_CHOOSER_BOX,  // the border and caption drawn inside the chooser panel
        IDC_FILE_PANEL,
        IDC_FILE_LIST,
        IDC_FOLDER_PANEL,
        IDC_FOLDER_LIST,
        IDC_LOCK_FOLDER_BUTTON,
        IDC_DRIVE_BOX,
        IDC_CLOSE_BUTTON,
        IDC_SUBFOLDERS_CHECK,
        IDC_PATH_BOX,  // a folder path typed or pasted
        IDC_GO_BUTTON,
    };

    void OnDriveChange();
    void OnFolderChange();
    void OnFolderClick();
    void OnCloseButton();
    void OnLockFolder();
    // Takes the folder path in the path box, as Go or Enter there does.
    void OnGoToFolder();

    // Whether "Include subfolders" is ticked.
    bool IncludeSubfolders() const;
    // What the chooser lists hold; null while the dialog is not loaded.
    const AddChooser* Chooser() const { return chooser_.get(); }
    // Any control of the dialog, also those inside its frames.
    HWND FindControl(int id) const;

protected:
    void Load() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    void OnUnloaded() override;

private:
    void OnFolderMouseClick();
    void OnEnter(HWND focus);
    // Brings the windows up to date with the chooser lists.
    void ShowLists();

    ItemBook& lists_;
    const AppState& state_;
    Win32FolderSource disks_;
    FolderSource& source_;
    std::unique_ptr<AddChooser> chooser_;
    ui::DriveListView driveView_;
    ui::FolderListView folderView_;
    ui::FileListView fileView_;
    unsigned shownFolders_ = 0;
    unsigned shownFiles_ = 0;
};

}  // namespace vaultmere
