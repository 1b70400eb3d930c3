#pragma once
// The configuration window: the locked and unlocked lists with their item
// commands, Close (save and hide), and the buttons that open the other
// windows. The lists and the locks live in an ItemBook, which outlives this
// window: closing it through the title bar destroys only the window.
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "common/AppState.h"
#include "common/UniqueHandle.h"
#include "forms/FormKit.h"
#include "forms/config/AboutText.h"
#include "forms/config/ItemBook.h"
#include "forms/info/InfoWindow.h"

namespace vaultmere {

// A message box call; tests put their own answer in its place.
using MessageBoxFunction =
    std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)>;
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

class ConfigWindow final : public ui::Form {
public:
    enum ControlId {
        IDC_BUTTON_PANEL = 100,
        IDC_LIST_PANEL,
        IDC_CLOSE_BUTTON,
        IDC_ADD_BUTTON,
        IDC_SET_PASSWORD_BUTTON,
        IDC_ABOUT_BUTTON,
        IDC_LOCKED_LABEL,
        IDC_UNLOCK_LINK,
        IDC_REMOVE_LINK,
        IDC_LOCKED_LIST,
        IDC_UNLOCKED_LABEL,
        IDC_RELOCK_LINK,
        IDC_UNLOCKED_LIST,
    };

    ConfigWindow(AppState& state, ItemBook& lists, InfoWindow& messageWindow);
    ~ConfigWindow() override;

    // Opening the other windows; set by whoever owns them.
    std::function<void()> showAddDialog;
    std::function<void()> showPasswordDialog;
    // How a relaunch is started, set by whoever starts programs; tests watch
    // it. Returns false on failure.
    std::function<bool(const std::wstring& exePath)> startProgram;
    MessageBoxFunction messageBox = &ShowMessageBox;

    void OnUnlockItem();
    void OnRelockItem();
    void OnRemoveItem();
    void OnCloseButton();
    void OnLockFileOrFolder();
    void OnSetPassword();
    void OnAbout();
    // Why the window is closing.
    enum class CloseReason {
        User,           // the close box, the system menu or another program
        SessionEnding,  // Windows ending the session
    };
    void OnQueryClose(CloseReason reason);

    // Shows the lists as they are now (after another window changed them).
    void RefreshLists();
    // The notes the locked and the unlocked list show, one per entry ("" for none).
    const std::vector<std::wstring>& Notes() const { return notes_; }
    const std::vector<std::wstring>& UnlockedNotes() const { return unlockedNotes_; }

protected:
    void Load() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    void OnClose() override { OnQueryClose(CloseReason::User); }
    void OnFontChanged() override;
    void OnColoursChanged() override;
    void OnUnloaded() override {
        addImages_.Reset();
        entryTip_ = nullptr;
        tipEntry_ = -1;
    }

private:
    // Shows the lists after a command, and what the user must be told.
    void Tell(const BookResult& result);
    void FillList(int controlId, const ItemList& list);
    void AddToolTip(int controlId, const wchar_t* text);
    // A tip over each list that shows the entry under the pointer whole,
    // with its note, when the list cuts it off.
    void AddEntryTips();
    static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR self);
    // The tip's text for the entry under the pointer; "" shows no tip.
    const wchar_t* EntryTip(HWND list);
    // Asks the locker how each locked entry stands and redraws what changed.
    void UpdateNotes();
    // refilled: the list was filled anew and its notes must be shown again.
    void UpdateUnlockedNotes(bool refilled);
    // Widens a list for its entries' notes and draws them anew.
    void ShowNotes(int controlId, const std::vector<Item>& entries, const std::vector<std::wstring>& notes);
    void DrawEntry(const DRAWITEMSTRUCT& item, const std::vector<std::wstring>& notes);
    int EntryHeight() const;
    int EntryWidth(HDC dc, const std::wstring& entry, const std::wstring& note) const;
    // The lists' context menu (right click, Shift+F10, the menu key) with the
    // list's commands; position is the message's, -1 from the keyboard.
    void ShowListMenu(HWND list, LPARAM position);
    // Delete in the locked list is Remove Item.
    LRESULT ListKey(HWND list, WORD key);

    AppState& state_;
    ItemBook& lists_;
    InfoWindow& messageWindow_;
    UniqueFont linkFont_;
    // The add button's icon; the button uses it but does not own it.
    UniqueImageList addImages_;
    std::vector<std::wstring> notes_;
    std::vector<std::wstring> unlockedNotes_;
    HWND entryTip_ = nullptr;  // destroyed with the window
    int tipEntry_ = -1;        // the entry the tip is about
    std::wstring tipText_;
};

}  // namespace vaultmere
