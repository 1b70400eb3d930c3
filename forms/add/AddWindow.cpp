#include "forms/add/AddWindow.h"

#include <algorithm>
#include <exception>

namespace vaultmere {

namespace {

constexpr wchar_t kApplicationTitle[] = L"Vaultmere";
constexpr wchar_t kDesignNote[] =
    L"Note: When a folder is locked, it will still be visible, but the files inside will be inaccessible and "
    L"cannot be edited. However hidden files will not be locked so make sure you unhide any first.";

constexpr int kClientWidth = 5145;
// The design's 4890, and what the taller folder list and the path row add.
constexpr int kClientHeight = 6525;
constexpr int kChooserHeight = 4935;
// The drive list is 315 twips high when closed; the rest is its drop-down.
constexpr int kDriveListClosedHeight = 315;
constexpr int kDriveListDropDown = 2400;

constexpr DWORD kListStyle = WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;

// In tab order. The folder and file panels are a little smaller than the lists they
// hold, which start at -30, -15 inside them: the frames cut off the lists' borders.
// The folder list is 1200 twips taller than designed, a handful of rows more,
// and the files and the path row below it move down by as much.
const ui::ControlDesign kControls[] = {
    {AddWindow::IDC_NOTE_LABEL, 0, L"STATIC", kDesignNote, 240, 120, 4695, 615, SS_LEFT | SS_NOPREFIX, 0},
    {AddWindow::IDC_CHOOSER_PANEL, 0, ui::kPanelClass, nullptr, 240, 960, 4695, kChooserHeight, 0, 0},
    {AddWindow::IDC_CHOOSER_BOX, AddWindow::IDC_CHOOSER_PANEL, L"BUTTON", kApplicationTitle, 0, 0, 4695, kChooserHeight,
     BS_GROUPBOX | WS_CLIPSIBLINGS, 0},
    {AddWindow::IDC_FILE_PANEL, AddWindow::IDC_CHOOSER_PANEL, ui::kPanelClass, nullptr, 240, 3120, 2970, 1170, 0, 0},
    {AddWindow::IDC_FILE_LIST, AddWindow::IDC_FILE_PANEL, L"LISTBOX", nullptr, -30, -15, 3015, 1200, kListStyle, 0},
    {AddWindow::IDC_FOLDER_PANEL, AddWindow::IDC_CHOOSER_PANEL, ui::kPanelClass, nullptr, 240, 720, 2970, 2385, 0, 0},
    {AddWindow::IDC_FOLDER_LIST, AddWindow::IDC_FOLDER_PANEL, L"LISTBOX", nullptr, -30, -15, 3015, 2415,
     kListStyle | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 0},
    {AddWindow::IDC_LOCK_FOLDER_BUTTON, AddWindow::IDC_CHOOSER_PANEL, L"BUTTON", L"Lock Folder", 3360, 720, 1095, 375,
     WS_TABSTOP | BS_PUSHBUTTON, 0},
    {AddWindow::IDC_DRIVE_BOX, AddWindow::IDC_CHOOSER_PANEL, L"COMBOBOX", nullptr, 240, 360, 3015,
     kDriveListClosedHeight + kDriveListDropDown,
     WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 0},
    // Shows the folder the lists show; a path typed over it is gone to with Go or Enter.
    {AddWindow::IDC_PATH_BOX, AddWindow::IDC_CHOOSER_PANEL, L"EDIT", nullptr, 240, 4380, 3015, 315,
     WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {AddWindow::IDC_GO_BUTTON, AddWindow::IDC_CHOOSER_PANEL, L"BUTTON", L"Go", 3360, 4350, 1095, 375,
     WS_TABSTOP | BS_PUSHBUTTON, 0},
    // Unticked in every new dialog: Lock Folder then locks the files
    // directly in the folder only.
    {AddWindow::IDC_SUBFOLDERS_CHECK, 0, L"BUTTON", L"Include subfolders", 240, 6060, 3255, 255,
     WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {AddWindow::IDC_CLOSE_BUTTON, 0, L"BUTTON", L"Close", 3720, 6000, 1215, 375, WS_TABSTOP | BS_PUSHBUTTON, 0},
};

std::wstring WindowTextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

std::wstring CurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), &folder[0]);
        if (length == 0) return std::wstring();
        if (length < folder.size()) {
            folder.resize(length);
            return folder;
        }
        folder.resize(length);
    }
}

}  // namespace

AddWindow::AddWindow(ItemBook& lists, const AppState& state) : AddWindow(lists, state, disks_) {}

AddWindow::AddWindow(ItemBook& lists, const AppState& state, FolderSource& source)
    : messageBox([](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
          return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
      }),
      lists_(lists),
      state_(state),
      source_(source) {}

HWND AddWindow::FindControl(int id) const { return ui::FindDescendant(Handle(), id); }

void AddWindow::Load() {
    const ui::FormDesign design = {L"Add Files and Folders",
                                   kClientWidth,
                                   kClientHeight,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                   WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    // The frame's border lies under the controls it holds.
    ::SetWindowPos(FindControl(IDC_CHOOSER_BOX), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    driveView_.Attach(FindControl(IDC_DRIVE_BOX));
    folderView_.Attach(FindControl(IDC_FOLDER_LIST), [this]() { OnFolderMouseClick(); });
    fileView_.Attach(FindControl(IDC_FILE_LIST));
    // A pasted path is never cut short: one too long is refused whole.
    ::SendMessageW(FindControl(IDC_PATH_BOX), EM_SETLIMITTEXT, 0, 0);

    chooser_ = std::make_unique<AddChooser>(source_);
    chooser_->Load(CurrentFolder());
    driveView_.Show(chooser_->driveList);
    folderView_.Show(chooser_->folderList);
    fileView_.Show(chooser_->fileList);
    ::SetWindowTextW(FindControl(IDC_PATH_BOX), chooser_->folderList.Path().c_str());
    shownFolders_ = chooser_->folderList.Generation();
    shownFiles_ = chooser_->fileList.Generation();
}

void AddWindow::OnUnloaded() {
    driveView_.Detach();
    folderView_.Detach();
    fileView_.Detach();
}

void AddWindow::ShowLists() {
    if (!chooser_) return;
    if (driveView_.SelectedIndex() != chooser_->driveList.ListIndex()) {
        driveView_.ShowSelection(chooser_->driveList.ListIndex());
    }
    if (shownFolders_ != chooser_->folderList.Generation()) {
        folderView_.Show(chooser_->folderList);
        ::SetWindowTextW(FindControl(IDC_PATH_BOX), chooser_->folderList.Path().c_str());
        shownFolders_ = chooser_->folderList.Generation();
    }
    if (shownFiles_ != chooser_->fileList.Generation()) {
        fileView_.Show(chooser_->fileList);
        shownFiles_ = chooser_->fileList.Generation();
    }
}

void AddWindow::OnDriveChange() {
    if (!chooser_) return;
    chooser_->OnDriveChange();
    ShowLists();
}

void AddWindow::OnFolderChange() {
    if (!chooser_) return;
    chooser_->OnFolderChange();
    ShowLists();
}

void AddWindow::OnFolderClick() {
    if (!chooser_) return;
    chooser_->OnFolderClick();
    ShowLists();
}

void AddWindow::OnFolderMouseClick() {
    if (!chooser_) return;
    try {
        chooser_->folderList.SetListIndex(folderView_.SelectedListIndex());
        OnFolderClick();
    } catch (const std::exception&) {
        // A folder that cannot be listed (out of memory) is not opened.
    }
}

void AddWindow::OnGoToFolder() {
    if (!chooser_) return;
    HWND pathBox = FindControl(IDC_PATH_BOX);
    const TypedFolderOutcome outcome = chooser_->OpenTypedFolder(WindowTextOf(pathBox));
    if (outcome.result == TypedFolderOutcome::Result::Opened) {
        ShowLists();
        return;
    }
    if (outcome.result == TypedFolderOutcome::Result::Refused && messageBox) {
        messageBox(Handle(), outcome.message, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
    }
    // What was typed stays, to be put right.
    if (::IsWindow(pathBox)) {
        ::SetFocus(pathBox);
        ::SendMessageW(pathBox, EM_SETSEL, 0, -1);
    }
}

void AddWindow::OnCloseButton() { Unload(); }

bool AddWindow::IncludeSubfolders() const {
    return ::SendMessageW(FindControl(IDC_SUBFOLDERS_CHECK), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void AddWindow::OnLockFolder() {
    if (!chooser_) return;
    const LockFolderPlan plan = chooser_->PlanLockFolder(IncludeSubfolders());
    switch (plan.action) {
    case LockFolderPlan::Action::None:
        return;
    case LockFolderPlan::Action::Refuse:
        if (messageBox) messageBox(Handle(), plan.refusal, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
        return;
    case LockFolderPlan::Action::Add:
        break;
    }
    const std::wstring note = ControlText(IDC_NOTE_LABEL);
    SetControlText(IDC_NOTE_LABEL, plan.confirmation);
    // Locking a large folder takes a while; the confirmation shows first.
    ::UpdateWindow(Control(IDC_NOTE_LABEL));
    const BookResult result = lists_.LockNewItem(plan.item, onListsChanged);
    if (result.message.empty()) return;
    // Refused where the list is kept: nothing was locked. A folder that may
    // not be locked is told as a notice; a list that failed as a warning.
    SetControlText(IDC_NOTE_LABEL, note);
    if (messageBox) {
        messageBox(Handle(), result.message, kApplicationTitle,
                   MB_OK | (result.itemRefused ? MB_ICONINFORMATION : MB_ICONWARNING));
    }
}

void AddWindow::OnEnter(HWND focus) {
    if (focus == folderView_.Handle()) {
        chooser_->folderList.SetListIndex(folderView_.SelectedListIndex());
        OnFolderClick();
    } else if (focus == FindControl(IDC_PATH_BOX)) {
        OnGoToFolder();
    } else if (focus == FindControl(IDC_LOCK_FOLDER_BUTTON)) {
        OnLockFolder();
    } else if (focus == FindControl(IDC_CLOSE_BUTTON)) {
        OnCloseButton();
    }
}

void AddWindow::OnCommand(int id, int notifyCode, HWND) {
    if (!chooser_) return;
    try {
        switch (id) {
        case IDCANCEL:
        case IDC_CLOSE_BUTTON:
            if (notifyCode == BN_CLICKED) OnCloseButton();
            break;
        case IDOK:
            // Enter, from the dialog keys.
            OnEnter(::GetFocus());
            break;
        case IDC_LOCK_FOLDER_BUTTON:
            if (notifyCode == BN_CLICKED) OnLockFolder();
            break;
        case IDC_GO_BUTTON:
            if (notifyCode == BN_CLICKED) OnGoToFolder();
            break;
        case IDC_DRIVE_BOX:
            if (notifyCode == CBN_SELCHANGE) {
                const int index = driveView_.SelectedIndex();
                if (index != chooser_->driveList.ListIndex()) {
                    chooser_->driveList.SetListIndex(index);
                    OnDriveChange();
                }
            }
            break;
        case IDC_FOLDER_LIST:
            if (notifyCode == LBN_SELCHANGE) chooser_->folderList.SetListIndex(folderView_.SelectedListIndex());
            break;
        default:
            break;
        }
    } catch (const std::exception&) {
        // A failed step ends the command; what ran before it stays done.
    }
}

LRESULT AddWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_COMBOBOX && item->itemID == static_cast<UINT>(-1)) {
            // The closed drive list's own field: the box is then as high as designed.
            item->itemHeight = static_cast<UINT>(
                std::max(ui::TwipsToPixels(kDriveListClosedHeight, Dpi()) - 6, ui::ChooserItemHeight(DialogFont())));
        } else {
            item->itemHeight = static_cast<UINT>(ui::ChooserItemHeight(DialogFont()));
        }
        return TRUE;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem && item->hwndItem == driveView_.Handle()) {
            driveView_.Draw(*item);
            return TRUE;
        }
        if (item->hwndItem && item->hwndItem == folderView_.Handle()) {
            folderView_.Draw(*item);
            return TRUE;
        }
        break;
    }
    default:
        break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace vaultmere
