#include "forms/add/frmAdd.h"

#include <algorithm>
#include <exception>

namespace vaultmere {

namespace {

constexpr wchar_t kApplicationTitle[] = L"Vaultmere";
constexpr wchar_t kOwnFolderRefusal[] = L"Cannot lock this critical folder!";
constexpr wchar_t kDesignNote[] =
    L"Note: When a folder is locked, it will still be visible, but the files inside will be inaccessible and "
    L"cannot be edited. However hidden files will not be locked so make sure you unhide any first.";

constexpr int kClientWidth = 5145;
constexpr int kClientHeight = 4890;
// The drive list is 315 twips high when closed; the rest is its drop-down.
constexpr int kDriveListClosedHeight = 315;
constexpr int kDriveListDropDown = 2400;

constexpr DWORD kListStyle = WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;

// In tab order. Frame1 and Frame2 are a little smaller than the lists they
// hold, which start at -30, -15 inside them: the frames cut off the lists' borders.
const ui::ControlDesign kControls[] = {
    {frmAdd::IDC_LABEL1, 0, L"STATIC", kDesignNote, 240, 120, 4695, 615, SS_LEFT | SS_NOPREFIX, 0},
    {frmAdd::IDC_FRAME3, 0, ui::kPanelClass, nullptr, 240, 960, 4695, 3300, 0, 0},
    {frmAdd::IDC_FRAME3BOX, frmAdd::IDC_FRAME3, L"BUTTON", kApplicationTitle, 0, 0, 4695, 3300,
     BS_GROUPBOX | WS_CLIPSIBLINGS, 0},
    {frmAdd::IDC_FRAME2, frmAdd::IDC_FRAME3, ui::kPanelClass, nullptr, 240, 1920, 2970, 1170, 0, 0},
    {frmAdd::IDC_FILE1, frmAdd::IDC_FRAME2, L"LISTBOX", nullptr, -30, -15, 3015, 1200, kListStyle, 0},
    {frmAdd::IDC_FRAME1, frmAdd::IDC_FRAME3, ui::kPanelClass, nullptr, 240, 720, 2970, 1185, 0, 0},
    {frmAdd::IDC_DIR1, frmAdd::IDC_FRAME1, L"LISTBOX", nullptr, -30, -15, 3015, 1215,
     kListStyle | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 0},
    {frmAdd::IDC_CMDLOCKFOLDER, frmAdd::IDC_FRAME3, L"BUTTON", L"Lock Folder", 3360, 720, 1095, 375,
     WS_TABSTOP | BS_PUSHBUTTON, 0},
    {frmAdd::IDC_DRIVE1, frmAdd::IDC_FRAME3, L"COMBOBOX", nullptr, 240, 360, 3015,
     kDriveListClosedHeight + kDriveListDropDown,
     WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 0},
    {frmAdd::IDC_CMDCANCEL, 0, L"BUTTON", L"Close", 3720, 4365, 1215, 375, WS_TABSTOP | BS_PUSHBUTTON, 0},
};

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

frmAdd::frmAdd(ItemLists& lists, const AppState& state) : frmAdd(lists, state, disks_) {}

frmAdd::frmAdd(ItemLists& lists, const AppState& state, FolderSource& source)
    : messageBox([](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
          return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
      }),
      lists_(lists),
      state_(state),
      source_(source) {}

HWND frmAdd::FindControl(int id) const { return ui::FindDescendant(Handle(), id); }

void frmAdd::Load() {
    const ui::FormDesign design = {L"Add Files and Folders",
                                   kClientWidth,
                                   kClientHeight,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                   WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;
    // The frame's border lies under the controls it holds.
    ::SetWindowPos(FindControl(IDC_FRAME3BOX), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    drive1View_.Attach(FindControl(IDC_DRIVE1));
    dir1View_.Attach(FindControl(IDC_DIR1), [this]() { Dir1_MouseClick(); });
    file1View_.Attach(FindControl(IDC_FILE1));

    chooser_ = std::make_unique<AddChooser>(source_);
    chooser_->Load(CurrentFolder());
    drive1View_.Show(chooser_->Drive1);
    dir1View_.Show(chooser_->Dir1);
    file1View_.Show(chooser_->File1);
    shownDir1_ = chooser_->Dir1.Generation();
    shownFile1_ = chooser_->File1.Generation();
}

void frmAdd::OnUnloaded() {
    drive1View_.Detach();
    dir1View_.Detach();
    file1View_.Detach();
}

void frmAdd::ShowLists() {
    if (!chooser_) return;
    if (drive1View_.SelectedIndex() != chooser_->Drive1.ListIndex()) {
        drive1View_.ShowSelection(chooser_->Drive1.ListIndex());
    }
    if (shownDir1_ != chooser_->Dir1.Generation()) {
        dir1View_.Show(chooser_->Dir1);
        shownDir1_ = chooser_->Dir1.Generation();
    }
    if (shownFile1_ != chooser_->File1.Generation()) {
        file1View_.Show(chooser_->File1);
        shownFile1_ = chooser_->File1.Generation();
    }
}

void frmAdd::Drive1_Change() {
    if (!chooser_) return;
    chooser_->Drive1_Change();
    ShowLists();
}

void frmAdd::Dir1_Change() {
    if (!chooser_) return;
    chooser_->Dir1_Change();
    ShowLists();
}

void frmAdd::Dir1_Click() {
    if (!chooser_) return;
    chooser_->Dir1_Click();
    ShowLists();
}

void frmAdd::Dir1_MouseClick() {
    if (!chooser_) return;
    try {
        chooser_->Dir1.SetListIndex(dir1View_.SelectedListIndex());
        Dir1_Click();
    } catch (const std::exception&) {
        // A folder that cannot be listed (out of memory) is not opened.
    }
}

void frmAdd::cmdCancel_Click() { Unload(); }

void frmAdd::cmdLockFolder_Click() {
    if (!chooser_) return;
    const LockFolderPlan plan = chooser_->PlanLockFolder(state_.applicationFolder, SystemFolders());
    switch (plan.action) {
    case LockFolderPlan::Action::None:
        return;
    case LockFolderPlan::Action::Refuse:
        if (messageBox) messageBox(Handle(), kOwnFolderRefusal, kApplicationTitle, MB_OK | MB_ICONINFORMATION);
        return;
    case LockFolderPlan::Action::Add:
        break;
    }
    SetControlText(IDC_LABEL1, plan.confirmation);
    // Locking a large folder takes a while; the confirmation shows first.
    ::UpdateWindow(Control(IDC_LABEL1));
    lists_.LockNewItem(plan.item, onListsChanged);
}

void frmAdd::OnEnter(HWND focus) {
    if (focus == dir1View_.Handle()) {
        chooser_->Dir1.SetListIndex(dir1View_.SelectedListIndex());
        Dir1_Click();
    } else if (focus == FindControl(IDC_CMDLOCKFOLDER)) {
        cmdLockFolder_Click();
    } else if (focus == FindControl(IDC_CMDCANCEL)) {
        cmdCancel_Click();
    }
}

void frmAdd::OnCommand(int id, int notifyCode, HWND) {
    if (!chooser_) return;
    try {
        switch (id) {
        case IDCANCEL:
        case IDC_CMDCANCEL:
            if (notifyCode == BN_CLICKED) cmdCancel_Click();
            break;
        case IDOK:
            // Enter, from the dialog keys.
            OnEnter(::GetFocus());
            break;
        case IDC_CMDLOCKFOLDER:
            if (notifyCode == BN_CLICKED) cmdLockFolder_Click();
            break;
        case IDC_DRIVE1:
            if (notifyCode == CBN_SELCHANGE) {
                const int index = drive1View_.SelectedIndex();
                if (index != chooser_->Drive1.ListIndex()) {
                    chooser_->Drive1.SetListIndex(index);
                    Drive1_Change();
                }
            }
            break;
        case IDC_DIR1:
            if (notifyCode == LBN_SELCHANGE) chooser_->Dir1.SetListIndex(dir1View_.SelectedListIndex());
            break;
        default:
            break;
        }
    } catch (const std::exception&) {
        // A failed step ends the command; what ran before it stays done.
    }
}

LRESULT frmAdd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
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
        if (item->hwndItem && item->hwndItem == drive1View_.Handle()) {
            drive1View_.Draw(*item);
            return TRUE;
        }
        if (item->hwndItem && item->hwndItem == dir1View_.Handle()) {
            dir1View_.Draw(*item);
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
