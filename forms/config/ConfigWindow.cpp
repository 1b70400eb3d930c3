#include "forms/config/ConfigWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "forms/config/UntilText.h"

namespace vaultmere {

namespace {

constexpr COLORREF kLeftPanelGrey = RGB(128, 128, 128);

// While the window is visible, the notes are brought up to date once a second.
constexpr UINT_PTR kNotesTimer = 1;
constexpr UINT kNotesIntervalMs = 1000;

// Creation order is the tab order: Close, each list after its links, then
// the left panel's buttons.
const ui::ControlDesign kControls[] = {
    {ConfigWindow::IDC_CLOSE_BUTTON, 0, L"BUTTON", L"Close", 5880, 4980, 1215, 375, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {ConfigWindow::IDC_LIST_PANEL, 0, ui::kPanelClass, nullptr, 1320, 0, 5895, 4815, 0, 0},
    {ConfigWindow::IDC_LOCKED_LABEL, ConfigWindow::IDC_LIST_PANEL, L"STATIC", L"Locked Files and Folders", 240, 240,
     2055, 255, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0},
    {ConfigWindow::IDC_UNLOCK_LINK, ConfigWindow::IDC_LIST_PANEL, L"BUTTON", L"Unlock Item", 240, 720, 855, 195,
     WS_TABSTOP | ui::kLinkStyle, 0},
    {ConfigWindow::IDC_REMOVE_LINK, ConfigWindow::IDC_LIST_PANEL, L"BUTTON", L"Remove Item", 1320, 720, 945, 195,
     WS_TABSTOP | ui::kLinkStyle, 0},
    // Both lists are drawn by the form to show notes beside the entries; the
    // entries' text stays the item path for whoever reads the list.
    {ConfigWindow::IDC_LOCKED_LIST, ConfigWindow::IDC_LIST_PANEL, L"LISTBOX", nullptr, 240, 960, 5535, 2220,
     WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED |
         LBS_HASSTRINGS | LBS_WANTKEYBOARDINPUT,
     0},
    {ConfigWindow::IDC_UNLOCKED_LABEL, ConfigWindow::IDC_LIST_PANEL, L"STATIC", L"Unlocked Files and Folders", 240,
     3360, 1920, 195, SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0},
    {ConfigWindow::IDC_RELOCK_LINK, ConfigWindow::IDC_LIST_PANEL, L"BUTTON", L"Relock Item", 240, 3720, 855, 195,
     WS_TABSTOP | ui::kLinkStyle, 0},
    {ConfigWindow::IDC_UNLOCKED_LIST, ConfigWindow::IDC_LIST_PANEL, L"LISTBOX", nullptr, 240, 3960, 5535, 705,
     WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED |
         LBS_HASSTRINGS | LBS_WANTKEYBOARDINPUT,
     0},
    {ConfigWindow::IDC_BUTTON_PANEL, 0, ui::kPanelClass, nullptr, 0, 0, 1335, 4815, 0, 0},
    {ConfigWindow::IDC_ADD_BUTTON, ConfigWindow::IDC_BUTTON_PANEL, L"BUTTON", L"Lock File or Folder...", 120, 120, 1095,
     1095, WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE | BS_BOTTOM | BS_CENTER, 0},
    {ConfigWindow::IDC_SET_PASSWORD_BUTTON, ConfigWindow::IDC_BUTTON_PANEL, L"BUTTON", L"Set Password", 120, 1320, 1095,
     375, WS_TABSTOP | BS_PUSHBUTTON, 0},
    {ConfigWindow::IDC_ABOUT_BUTTON, ConfigWindow::IDC_BUTTON_PANEL, L"BUTTON", L"About", 120, 4320, 1095, 375,
     WS_TABSTOP | BS_PUSHBUTTON, 0},
};

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

ConfigWindow::ConfigWindow(AppState& state, ItemBook& lists, InfoWindow& messageWindow)
    : state_(state), lists_(lists), messageWindow_(messageWindow) {}

ConfigWindow::~ConfigWindow() = default;

void ConfigWindow::Load() {
    const ui::FormDesign design = {L"Vaultmere Configuration",
                                   7230,
                                   5475,
                                   WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                   WS_EX_APPWINDOW | WS_EX_DLGMODALFRAME,
                                   true};
    if (!Create(design, kControls, sizeof kControls / sizeof kControls[0])) return;

    ui::SetPanelSystemColour(Control(IDC_LIST_PANEL), COLOR_WINDOW);
    OnColoursChanged();

    AddToolTip(IDC_UNLOCK_LINK, L"Unlocks a selected item in the list and puts it in the list below");
    AddToolTip(IDC_RELOCK_LINK, L"Relocks a selected item in the list and puts it back above");
    AddEntryTips();
    RefreshLists();
}

void ConfigWindow::OnColoursChanged() {
    // The grey behind the buttons is no colour of the system's: a
    // high-contrast scheme gets the button face instead.
    if (ui::HighContrast()) {
        ui::SetPanelSystemColour(Control(IDC_BUTTON_PANEL), COLOR_BTNFACE);
    } else {
        ui::SetPanelColour(Control(IDC_BUTTON_PANEL), kLeftPanelGrey);
    }
}

// As high as the entries of a list box that draws itself, in the dialog font.
int ConfigWindow::EntryHeight() const {
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, DialogFont());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

void ConfigWindow::OnFontChanged() {
    // The links are the dialog font underlined; non-wrapping labels take the
    // size of their text when laid out.
    LOGFONTW face{};
    ::GetObjectW(DialogFont(), sizeof face, &face);
    face.lfUnderline = TRUE;
    linkFont_.Reset(::CreateFontIndirectW(&face));
    HWND panel = Control(IDC_LIST_PANEL);
    for (int id : {IDC_UNLOCK_LINK, IDC_REMOVE_LINK, IDC_RELOCK_LINK}) {
        ::SendMessageW(::GetDlgItem(panel, id), WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.Get()), FALSE);
    }
    // The lists measured their entries once, in the font they were made with.
    for (int id : {IDC_LOCKED_LIST, IDC_UNLOCKED_LIST}) {
        if (HWND list = ::GetDlgItem(panel, id)) {
            ::SendMessageW(list, LB_SETITEMHEIGHT, 0, static_cast<LPARAM>(EntryHeight()));
        }
    }

    // The program icon above the add button's text, as large as the DPI asks.
    HWND add = ::GetDlgItem(Control(IDC_BUTTON_PANEL), IDC_ADD_BUTTON);
    const int iconSize = ::MulDiv(32, Dpi(), 96);
    UniqueImageList images(::ImageList_Create(iconSize, iconSize, ILC_COLOR32 | ILC_MASK, 1, 0));
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ui::kProgramIconId),
                                                 IMAGE_ICON, iconSize, iconSize, 0));
    ::ImageList_AddIcon(images.Get(), icon);
    if (icon) ::DestroyIcon(icon);
    BUTTON_IMAGELIST imageList{};
    imageList.himl = images.Get();
    imageList.uAlign = BUTTON_IMAGELIST_ALIGN_TOP;
    ::SendMessageW(add, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&imageList));
    // The one the button showed before is no longer in use.
    addImages_ = std::move(images);
}

void ConfigWindow::AddToolTip(int controlId, const wchar_t* text) {
    HWND tip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(Control(IDC_LIST_PANEL), controlId));
    tool.lpszText = const_cast<wchar_t*>(text);
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ConfigWindow::AddEntryTips() {
    entryTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!entryTip_) return;
    // Wide enough for a long path; the note goes on a line of its own.
    ::SendMessageW(entryTip_, TTM_SETMAXTIPWIDTH, 0, ::GetSystemMetrics(SM_CXSCREEN) * 2 / 3);
    for (int id : {IDC_LOCKED_LIST, IDC_UNLOCKED_LIST}) {
        HWND list = ::GetDlgItem(Control(IDC_LIST_PANEL), id);
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(list);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        ::SendMessageW(entryTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        ::SetWindowSubclass(list, &ConfigWindow::ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
}

LRESULT CALLBACK ConfigWindow::ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR self) {
    auto* window = reinterpret_cast<ConfigWindow*>(self);
    if (message == WM_MOUSEMOVE && window->entryTip_) {
        // The tip asks for its text each time it shows: another entry under
        // the pointer takes the one shown down.
        const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam);
        const int entry = HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1;
        if (entry != window->tipEntry_) {
            window->tipEntry_ = entry;
            ::SendMessageW(window->entryTip_, TTM_POP, 0, 0);
        }
    } else if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(list, &ConfigWindow::ListProc, 0);
    }
    return ::DefSubclassProc(list, message, wParam, lParam);
}

const wchar_t* ConfigWindow::EntryTip(HWND list) {
    tipText_.clear();
    POINT at{};
    ::GetCursorPos(&at);
    ::ScreenToClient(list, &at);
    const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
    if (HIWORD(hit) != 0) return tipText_.c_str();
    const int index = LOWORD(hit);
    const bool locked = ::GetDlgCtrlID(list) == IDC_LOCKED_LIST;
    const std::vector<Item>& entries = (locked ? lists_.lockedList : lists_.unlockedList).Entries();
    const std::vector<std::wstring>& notes = locked ? notes_ : unlockedNotes_;
    if (index >= static_cast<int>(entries.size())) return tipText_.c_str();
    const std::wstring& entry = entries[static_cast<std::size_t>(index)].Text();
    const std::wstring note = index < static_cast<int>(notes.size()) ? notes[static_cast<std::size_t>(index)] : L"";
    // Only what the list does not show whole.
    RECT area{};
    ::GetClientRect(list, &area);
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, DialogFont());
    const int width = EntryWidth(dc, entry, note) + 2;
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    if (width <= area.right && ::GetScrollPos(list, SB_HORZ) == 0) return tipText_.c_str();
    tipText_ = note.empty() ? entry : entry + L"\r\n" + note;
    return tipText_.c_str();
}

void ConfigWindow::FillList(int controlId, const ItemList& list) {
    HWND box = ::GetDlgItem(Control(IDC_LIST_PANEL), controlId);
    if (!box) return;
    ::SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(box, LB_RESETCONTENT, 0, 0);
    int widest = 0;
    HDC dc = ::GetDC(box);
    HGDIOBJ old = ::SelectObject(dc, DialogFont());
    for (const Item& item : list.Entries()) {
        const std::wstring& entry = item.Text();
        ::SendMessageW(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, entry.c_str(), static_cast<int>(entry.size()), &extent);
        if (extent.cx > widest) widest = extent.cx;
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
    // Long paths can be scrolled into view.
    ::SendMessageW(box, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    ::SendMessageW(box, LB_SETCURSEL, static_cast<WPARAM>(list.ListIndex()), 0);
    ::SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(box, nullptr, TRUE);
}

void ConfigWindow::RefreshLists() {
    if (!IsLoaded()) return;
    notes_.assign(lists_.lockedList.Entries().size(), std::wstring());
    FillList(IDC_LOCKED_LIST, lists_.lockedList);
    FillList(IDC_UNLOCKED_LIST, lists_.unlockedList);
    UpdateUnlockedNotes(true);
    if (IsVisible()) UpdateNotes();
}

void ConfigWindow::UpdateUnlockedNotes(bool refilled) {
    // Whether it takes its subfolders, and until when it stays unlocked.
    const std::vector<Item>& unlocked = lists_.unlockedList.Entries();
    const std::vector<std::uint64_t> relockTimes = lists_.UnlockedRelockTimes();
    std::vector<std::wstring> notes;
    for (std::size_t i = 0; i < unlocked.size(); ++i) {
        std::wstring note = EntryNote(unlocked[i], ItemStatus());
        const std::wstring until = UntilText(i < relockTimes.size() ? relockTimes[i] : 0);
        if (!until.empty()) note += (note.empty() ? L"" : L", ") + until;
        notes.push_back(std::move(note));
    }
    if (notes == unlockedNotes_ && !refilled) return;
    unlockedNotes_ = std::move(notes);
    ShowNotes(IDC_UNLOCKED_LIST, unlocked, unlockedNotes_);
}

void ConfigWindow::UpdateNotes() {
    UpdateUnlockedNotes(false);
    const std::vector<Item>& entries = lists_.lockedList.Entries();
    const std::vector<ItemStatus> statuses = lists_.LockedStatus();
    std::vector<std::wstring> notes(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        notes[i] = EntryNote(entries[i], i < statuses.size() ? statuses[i] : ItemStatus());
    }
    if (notes == notes_) return;
    notes_ = std::move(notes);
    ShowNotes(IDC_LOCKED_LIST, entries, notes_);
}

void ConfigWindow::ShowNotes(int controlId, const std::vector<Item>& entries, const std::vector<std::wstring>& notes) {
    HWND box = ::GetDlgItem(Control(IDC_LIST_PANEL), controlId);
    if (!box) return;
    // The notes widen the entries: long ones can still be scrolled into view.
    int widest = 0;
    HDC dc = ::GetDC(box);
    HGDIOBJ old = ::SelectObject(dc, DialogFont());
    for (std::size_t i = 0; i < entries.size() && i < notes.size(); ++i) {
        widest = std::max(widest, EntryWidth(dc, entries[i].Text(), notes[i]));
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
    ::SendMessageW(box, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
    ::InvalidateRect(box, nullptr, TRUE);
}

int ConfigWindow::EntryWidth(HDC dc, const std::wstring& entry, const std::wstring& note) const {
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, entry.c_str(), static_cast<int>(entry.size()), &extent);
    int width = extent.cx;
    if (!note.empty()) {
        SIZE gap{};
        ::GetTextExtentPoint32W(dc, L"    ", 4, &gap);
        ::GetTextExtentPoint32W(dc, note.c_str(), static_cast<int>(note.size()), &extent);
        width += gap.cx + extent.cx;
    }
    return width;
}

void ConfigWindow::DrawEntry(const DRAWITEMSTRUCT& item, const std::vector<std::wstring>& notes) {
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    if (item.itemID == static_cast<UINT>(-1)) {
        if (item.itemState & ODS_FOCUS) ::DrawFocusRect(dc, &area);
        return;
    }
    if (item.itemAction == ODA_FOCUS) {
        ::DrawFocusRect(dc, &area);
        return;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(dc, &area, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const int length = static_cast<int>(::SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0));
    std::wstring entry(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(&entry[0]));
    entry.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));

    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = area;
    text.left += 2;
    ::DrawTextW(dc, entry.c_str(), static_cast<int>(entry.size()), &text,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
    const std::wstring note = item.itemID < notes.size() ? notes[item.itemID] : std::wstring();
    if (!note.empty()) {
        text.left += EntryWidth(dc, entry, note);
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, note.c_str(), static_cast<int>(note.size()), &extent);
        text.left -= extent.cx;
        ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_GRAYTEXT));
        ::DrawTextW(dc, note.c_str(), static_cast<int>(note.size()), &text,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
    }
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
    if (item.itemState & ODS_FOCUS) ::DrawFocusRect(dc, &area);
}

void ConfigWindow::Tell(const BookResult& result) {
    RefreshLists();
    if (!result.message.empty()) messageBox(Handle(), result.message, L"Vaultmere", MB_OK | MB_ICONWARNING);
}

void ConfigWindow::OnUnlockItem() { Tell(lists_.UnlockSelected()); }

void ConfigWindow::OnRelockItem() { Tell(lists_.RelockSelected()); }

void ConfigWindow::OnRemoveItem() {
    Tell(lists_.RemoveSelected([this](const std::wstring& entry) {
        return messageBox(Handle(), L"Remove " + entry + L"?", L"Remove",
                          MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON1) == IDYES;
    }));
}

void ConfigWindow::OnCloseButton() {
    const BookResult result = lists_.Close();
    // A failed save still hides the window, or a user without the right to
    // write the list could never close it.
    if (!result.message.empty()) messageBox(Handle(), result.message, L"Vaultmere", MB_OK | MB_ICONWARNING);
    Hide();
}

void ConfigWindow::OnLockFileOrFolder() {
    if (showAddDialog) showAddDialog();
}

void ConfigWindow::OnSetPassword() {
    if (showPasswordDialog) showPasswordDialog();
}

void ConfigWindow::OnAbout() {
    messageWindow_.SetMessage(BuildAboutText(ReadVersionRecord()));
    messageWindow_.Show();
}

void ConfigWindow::OnQueryClose(CloseReason reason) {
    if (reason == CloseReason::SessionEnding) {
        // Windows is ending the session: end at once, start nothing.
        ::ExitProcess(0);
    }
    SetCaption(L"ooh! ");
    // A new copy finds this resident copy and asks it for the prompt. If the
    // folder recorded at start-up fails, the running executable itself is
    // started by its full path, never a bare name looked up along the path.
    if (startProgram && !startProgram(state_.applicationFolder + kProgramFileName)) startProgram(ProgramPath());
    Unload();
    lists_.Forget();
}

void ConfigWindow::OnCommand(int id, int notifyCode, HWND) {
    switch (id) {
    case IDC_CLOSE_BUTTON:
        if (notifyCode == BN_CLICKED) OnCloseButton();
        break;
    case IDC_ADD_BUTTON:
        if (notifyCode == BN_CLICKED) OnLockFileOrFolder();
        break;
    case IDC_SET_PASSWORD_BUTTON:
        if (notifyCode == BN_CLICKED) OnSetPassword();
        break;
    case IDC_ABOUT_BUTTON:
        if (notifyCode == BN_CLICKED) OnAbout();
        break;
    case IDC_UNLOCK_LINK:
        if (notifyCode == BN_CLICKED) OnUnlockItem();
        break;
    case IDC_RELOCK_LINK:
        if (notifyCode == BN_CLICKED) OnRelockItem();
        break;
    case IDC_REMOVE_LINK:
        if (notifyCode == BN_CLICKED) OnRemoveItem();
        break;
    case IDC_LOCKED_LIST:
    case IDC_UNLOCKED_LIST:
        if (notifyCode == LBN_SELCHANGE) {
            HWND box = ::GetDlgItem(Control(IDC_LIST_PANEL), id);
            const int index = static_cast<int>(::SendMessageW(box, LB_GETCURSEL, 0, 0));
            (id == IDC_LOCKED_LIST ? lists_.lockedList : lists_.unlockedList).SetListIndex(index);
        }
        break;
    default:
        // Enter and Esc (IDOK, IDCANCEL) press no button here.
        break;
    }
}

void ConfigWindow::ShowListMenu(HWND list, LPARAM position) {
    const int id = ::GetDlgCtrlID(list);
    ItemList& shown = id == IDC_LOCKED_LIST ? lists_.lockedList : lists_.unlockedList;
    POINT at = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (position == -1) {
        // From the keyboard: under the selected entry, or at the list's corner.
        RECT entry{};
        const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
        at = POINT{0, 0};
        if (selected != LB_ERR && ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(selected),
                                                 reinterpret_cast<LPARAM>(&entry)) != LB_ERR) {
            at = POINT{entry.left, entry.bottom};
        }
        ::ClientToScreen(list, &at);
    } else {
        // A right click selects the entry under the pointer first.
        POINT inList = at;
        ::ScreenToClient(list, &inList);
        const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(inList.x, inList.y));
        if (HIWORD(hit) == 0) {
            ::SendMessageW(list, LB_SETCURSEL, LOWORD(hit), 0);
            shown.SetListIndex(LOWORD(hit));
        }
    }
    const UINT state = shown.ListIndex() >= 0 ? MF_ENABLED : MF_GRAYED;
    UniqueMenu menu(::CreatePopupMenu());
    if (!menu) return;
    if (id == IDC_LOCKED_LIST) {
        ::AppendMenuW(menu.Get(), MF_STRING | state, IDC_UNLOCK_LINK, L"&Unlock Item");
        ::AppendMenuW(menu.Get(), MF_STRING | state, IDC_REMOVE_LINK, L"&Remove Item");
    } else {
        ::AppendMenuW(menu.Get(), MF_STRING | state, IDC_RELOCK_LINK, L"Re&lock Item");
    }
    const int chosen = static_cast<int>(
        ::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, Handle(), nullptr));
    switch (chosen) {
    case IDC_UNLOCK_LINK:
        OnUnlockItem();
        break;
    case IDC_REMOVE_LINK:
        OnRemoveItem();
        break;
    case IDC_RELOCK_LINK:
        OnRelockItem();
        break;
    default:
        break;
    }
}

LRESULT ConfigWindow::ListKey(HWND list, WORD key) {
    if (key == VK_DELETE && ::GetDlgCtrlID(list) == IDC_LOCKED_LIST) {
        OnRemoveItem();
        return -2;
    }
    return -1;
}

LRESULT ConfigWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_LISTBOX || (item->CtlID != IDC_LOCKED_LIST && item->CtlID != IDC_UNLOCKED_LIST)) break;
        item->itemHeight = static_cast<UINT>(EntryHeight());
        return TRUE;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_LISTBOX || (item->CtlID != IDC_LOCKED_LIST && item->CtlID != IDC_UNLOCKED_LIST)) break;
        DrawEntry(*item, item->CtlID == IDC_LOCKED_LIST ? notes_ : unlockedNotes_);
        return TRUE;
    }
    case WM_SHOWWINDOW:
        if (wParam) {
            UpdateNotes();
            ::SetTimer(Handle(), kNotesTimer, kNotesIntervalMs, nullptr);
        } else {
            ::KillTimer(Handle(), kNotesTimer);
        }
        break;
    case WM_TIMER:
        if (wParam != kNotesTimer) break;
        if (::IsIconic(Handle())) return 0;
        // Another window may have changed a list that is kept elsewhere.
        if (lists_.Reload()) {
            RefreshLists();
        } else {
            UpdateNotes();
        }
        return 0;
    case WM_CONTEXTMENU: {
        HWND list = reinterpret_cast<HWND>(wParam);
        const int id = ::GetDlgCtrlID(list);
        if ((id == IDC_LOCKED_LIST || id == IDC_UNLOCKED_LIST) && ::GetParent(list) == Control(IDC_LIST_PANEL)) {
            ShowListMenu(list, lParam);
            return 0;
        }
        return Form::HandleMessage(message, wParam, lParam);
    }
    case WM_NOTIFY: {
        auto* tip = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (tip->hdr.hwndFrom != entryTip_ || tip->hdr.code != TTN_GETDISPINFOW) break;
        tip->lpszText = const_cast<wchar_t*>(EntryTip(reinterpret_cast<HWND>(tip->hdr.idFrom)));
        return 0;
    }
    case WM_VKEYTOITEM:
        return ListKey(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) OnQueryClose(CloseReason::SessionEnding);
        return 0;
    default:
        break;
    }
    return Form::HandleMessage(message, wParam, lParam);
}

}  // namespace vaultmere
