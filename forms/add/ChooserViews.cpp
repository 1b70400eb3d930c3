#include "forms/add/ChooserViews.h"

#include "common/EntryPoint.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

namespace ui {

namespace {

constexpr UINT_PTR kFolderListSubclassId = 1;

vaultmere::UniqueIcon StockIcon(SHSTOCKICONID id) {
    SHSTOCKICONINFO info = {};
    info.cbSize = sizeof info;
    if (FAILED(::SHGetStockIconInfo(id, SHGSI_ICON | SHGSI_SMALLICON, &info))) return vaultmere::UniqueIcon();
    return vaultmere::UniqueIcon(info.hIcon);
}

// Where the shell has no stock icons (Wine answers without one), it still
// gives the icon of a path.
vaultmere::UniqueIcon ShellIcon(const wchar_t* path, DWORD attributes, UINT flags) {
    SHFILEINFOW info = {};
    if (!::SHGetFileInfoW(path, attributes, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON | flags)) {
        return vaultmere::UniqueIcon();
    }
    return vaultmere::UniqueIcon(info.hIcon);
}

std::wstring ItemText(HWND control, UINT getLength, UINT getText, UINT index) {
    const LRESULT length = ::SendMessageW(control, getLength, index, 0);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(control, getText, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

// One entry: an icon after indent pixels, then the text. Selected entries
// highlight the text only when highlightTextOnly is set (the folder tree),
// else the whole row.
void DrawEntry(const DRAWITEMSTRUCT& item, HICON icon, int indent, const std::wstring& text, bool highlightTextOnly) {
    HDC dc = item.hDC;
    RECT row = item.rcItem;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    ::FillRect(dc, &row, ::GetSysColorBrush(selected && !highlightTextOnly ? COLOR_HIGHLIGHT : COLOR_WINDOW));

    const int iconSize = ::GetSystemMetrics(SM_CXSMICON);
    int x = row.left + 2 + indent;
    if (icon) {
        ::DrawIconEx(dc, x, row.top + (row.bottom - row.top - iconSize) / 2, icon, iconSize, iconSize, 0, nullptr,
                     DI_NORMAL);
    }
    x += iconSize + 3;

    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    RECT textArea = {x, row.top, std::min<LONG>(row.right, x + extent.cx + 4), row.bottom};
    if (selected && highlightTextOnly) ::FillRect(dc, &textArea, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT inner = textArea;
    inner.left += 2;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (item.itemState & ODS_FOCUS) ::DrawFocusRect(dc, highlightTextOnly ? &textArea : &row);
}

}  // namespace

int ChooserItemHeight(HFONT font) {
    int textHeight = 13;
    if (HDC screen = ::GetDC(nullptr)) {
        HGDIOBJ previous = ::SelectObject(screen, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
        TEXTMETRICW metrics = {};
        if (::GetTextMetricsW(screen, &metrics)) textHeight = metrics.tmHeight;
        ::SelectObject(screen, previous);
        ::ReleaseDC(nullptr, screen);
    }
    return std::max(textHeight, static_cast<int>(::GetSystemMetrics(SM_CYSMICON))) + 2;
}

void DriveListView::Attach(HWND comboBox) {
    combo_ = comboBox;
    const SHSTOCKICONID ids[] = {SIID_DRIVEFIXED, SIID_DRIVEREMOVE, SIID_DRIVEFIXED,
                                 SIID_DRIVENET,   SIID_DRIVECD,     SIID_DRIVERAM};
    for (size_t kind = 0; kind < sizeof ids / sizeof ids[0]; ++kind) {
        if (!icons_[kind]) icons_[kind] = StockIcon(ids[kind]);
    }
}

void DriveListView::Show(const vaultmere::DriveList& drives) {
    if (!combo_) return;
    ::SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < drives.ListCount(); ++i) {
        const auto kind = static_cast<size_t>(drives.Entry(i).kind);
        if (kind < sizeof icons_ / sizeof icons_[0] && !icons_[kind]) {
            const wchar_t root[] = {drives.Entry(i).letter, L':', L'\\', L'\0'};
            icons_[kind] = ShellIcon(root, 0, 0);
        }
        const LRESULT index = ::SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drives.List(i).c_str()));
        if (index >= 0) {
            ::SendMessageW(combo_, CB_SETITEMDATA, static_cast<WPARAM>(index),
                           static_cast<LPARAM>(drives.Entry(i).kind));
        }
    }
    ShowSelection(drives.ListIndex());
}

void DriveListView::ShowSelection(int index) {
    if (combo_) ::SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int DriveListView::SelectedIndex() const {
    if (!combo_) return -1;
    const LRESULT index = ::SendMessageW(combo_, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void DriveListView::Draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1)) {
        ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_WINDOW));
        if (item.itemState & ODS_FOCUS) ::DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const auto kind = static_cast<size_t>(item.itemData);
    const HICON icon = kind < sizeof icons_ / sizeof icons_[0] ? icons_[kind].Get() : nullptr;
    DrawEntry(item, icon, 0, ItemText(combo_, CB_GETLBTEXTLEN, CB_GETLBTEXT, item.itemID), false);
}

void FolderListView::Attach(HWND listBox, std::function<void()> onClick) {
    Detach();
    list_ = listBox;
    onClick_ = std::move(onClick);
    pressed_ = false;
    pathDepth_ = 0;
    if (!closedFolder_) closedFolder_ = StockIcon(SIID_FOLDER);
    if (!closedFolder_) closedFolder_ = ShellIcon(L"folder", FILE_ATTRIBUTE_DIRECTORY, SHGFI_USEFILEATTRIBUTES);
    if (!openFolder_) openFolder_ = StockIcon(SIID_FOLDEROPEN);
    if (!openFolder_) {
        openFolder_ = ShellIcon(L"folder", FILE_ATTRIBUTE_DIRECTORY, SHGFI_USEFILEATTRIBUTES | SHGFI_OPENICON);
    }
    if (list_)
        ::SetWindowSubclass(list_, &FolderListView::ListProc, kFolderListSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void FolderListView::Detach() {
    if (list_) ::RemoveWindowSubclass(list_, &FolderListView::ListProc, kFolderListSubclassId);
    list_ = nullptr;
}

void FolderListView::Show(const vaultmere::FolderList& folders) {
    if (!list_) return;
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    pathDepth_ = folders.PathDepth();
    for (int i = -pathDepth_; i < folders.ListCount(); ++i) {
        const LRESULT index = ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folders.Name(i).c_str()));
        // Item data: the indent level times two, plus one for an open folder.
        const int level = i < 0 ? pathDepth_ + i : pathDepth_;
        if (index >= 0) {
            ::SendMessageW(list_, LB_SETITEMDATA, static_cast<WPARAM>(index), level * 2 + (i < 0 ? 1 : 0));
        }
    }
    if (pathDepth_ > 0) {
        // The folder above stays in view, so one click goes up as well as down.
        ::SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(pathDepth_ + folders.ListIndex()), 0);
        ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(std::max(0, pathDepth_ - 2)), 0);
    }
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
}

int FolderListView::SelectedListIndex() const {
    const LRESULT index = list_ ? ::SendMessageW(list_, LB_GETCURSEL, 0, 0) : LB_ERR;
    return index == LB_ERR ? -1 : static_cast<int>(index) - pathDepth_;
}

void FolderListView::Draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1)) {
        ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_WINDOW));
        if (item.itemState & ODS_FOCUS) ::DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const int level = static_cast<int>(item.itemData / 2);
    const bool open = (item.itemData % 2) != 0;
    const int step = ::GetSystemMetrics(SM_CXSMICON) / 2 + 2;
    DrawEntry(item, open ? openFolder_.Get() : closedFolder_.Get(), level * step,
              ItemText(list_, LB_GETTEXTLEN, LB_GETTEXT, item.itemID), true);
}

bool FolderListView::IsOnSelectedEntry(LPARAM point) const {
    const POINT at = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    RECT client;
    ::GetClientRect(list_, &client);
    if (!::PtInRect(&client, at)) return false;
    const LRESULT hit = ::SendMessageW(list_, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
    if (HIWORD(hit) != 0) return false;
    return static_cast<LRESULT>(LOWORD(hit)) == ::SendMessageW(list_, LB_GETCURSEL, 0, 0);
}

LRESULT CALLBACK FolderListView::ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data) {
    auto* view = reinterpret_cast<FolderListView*>(data);
    switch (message) {
    case WM_LBUTTONDBLCLK:
        // The first click of the pair opened the folder already; the second
        // would open whatever entry now lies under the pointer.
        return 0;
    case WM_LBUTTONDOWN:
        view->pressed_ = true;
        break;
    case WM_LBUTTONUP: {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        if (view->pressed_) {
            view->pressed_ = false;
            if (view->IsOnSelectedEntry(lParam) && view->onClick_) {
                vaultmere::RunGuarded(L"folder list", vaultmere::AfterEscape::GoOn, 0, [&] {
                    view->onClick_();
                    return 0;
                });
            }
        }
        return result;
    }
    case WM_NCDESTROY:
        view->Detach();
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void FileListView::Show(const vaultmere::FileList& files) {
    if (!list_) return;
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    size_t characters = 0;
    for (const std::wstring& name : files.Entries()) characters += name.size() + 1;
    ::SendMessageW(list_, LB_INITSTORAGE, static_cast<WPARAM>(files.ListCount()),
                   // NOLINTNEXTLINE(bugprone-misplaced-widening-cast): LPARAM is no wider than size_t on either target
                   static_cast<LPARAM>(characters * sizeof(wchar_t)));
    for (const std::wstring& name : files.Entries()) {
        ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
}

}  // namespace ui
