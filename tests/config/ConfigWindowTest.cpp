#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "app/ResidentWindow.h"
#include "app/Version.h"
#include "forms/config/ConfigWindow.h"
#include "locker/FileLocker.h"
#include "store/Registry.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

// Answers the next message box with this caption from another thread, as a
// user would, and reports its text.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(const std::wstring& caption, int button)
        : thread_([this, caption, button] {
              HWND box = nullptr;
              WaitUntil([&] { return (box = ::FindWindowW(L"#32770", caption.c_str())) != nullptr; }, 5000);
              if (!box) return;
              HWND label = ::GetDlgItem(box, 0xFFFF);
              text_ = label ? WindowText(label) : L"";
              ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
              answered_ = true;
          }) {}
    ~MessageBoxAnswerer() {
        if (thread_.joinable()) thread_.join();
    }
    std::wstring Text() {
        if (thread_.joinable()) thread_.join();
        return text_;
    }
    bool Answered() const { return answered_; }

private:
    std::wstring text_;
    std::atomic<bool> answered_{false};
    std::thread thread_;
};

// Picks an entry of the next context menu by its access key, as a user
// would, and reports the entries offered.
class MenuPicker {
public:
    explicit MenuPicker(WORD key)
        : thread_([this, key] {
              HWND menu = nullptr;
              WaitUntil(
                  [&] { return (menu = ::FindWindowW(L"#32768", nullptr)) != nullptr && ::IsWindowVisible(menu); },
                  5000);
              if (!menu) return;
              auto* items = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
              for (int i = 0; i < ::GetMenuItemCount(items); ++i) {
                  wchar_t text[64] = {};
                  ::GetMenuStringW(items, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
                  const bool grayed = (::GetMenuState(items, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) != 0;
                  entries_.push_back(std::wstring(text) + (grayed ? L" (grayed)" : L""));
              }
              PressKey(key);
          }) {}
    ~MenuPicker() {
        if (thread_.joinable()) thread_.join();
    }
    std::vector<std::wstring> Entries() {
        if (thread_.joinable()) thread_.join();
        return entries_;
    }

private:
    std::vector<std::wstring> entries_;
    std::thread thread_;
};

void PressShiftF10() {
    INPUT inputs[4] = {};
    const WORD keys[4] = {VK_SHIFT, VK_F10, VK_F10, VK_SHIFT};
    for (int i = 0; i < 4; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = keys[i];
        inputs[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    ::SendInput(4, inputs, sizeof(INPUT));
}

class ConfigWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (TempFolder* folder : {&folderA, &folderB}) ASSERT_TRUE(WriteTextFile(*folder / L"file.txt", "x"));
        ASSERT_TRUE(MakeFolder(folderB / L"sub"));
        ASSERT_TRUE(WriteTextFile(folderB / L"sub\\deep.txt", "d"));
        form.startProgram = [this](const std::wstring& path) {
            relaunches.push_back(path);
            return true;
        };
    }
    std::wstring ItemA() const { return folderA.Path() + L"\\*.*"; }
    // With its subfolders.
    std::wstring ItemB() const { return TreeItem(folderB.Path()); }
    HWND Panel() const { return form.Control(ConfigWindow::IDC_LIST_PANEL); }
    HWND List(int id) const { return ::GetDlgItem(Panel(), id); }
    HWND Link(int id) const { return ::GetDlgItem(Panel(), id); }
    std::vector<std::wstring> Shown(int id) const { return ListBoxEntries(List(id)); }
    void Select(int listId, int index) {
        ClickListItem(List(listId), index);
        ItemList& list = listId == ConfigWindow::IDC_LOCKED_LIST ? lists.lockedList : lists.unlockedList;
        ASSERT_TRUE(WaitUntil([&] { return list.ListIndex() == index; }, 3000));
    }
    std::vector<std::wstring> StoredNames() {
        std::vector<std::wstring> names;
        for (const auto& value : Registry::ReadAllValues(key.Root(), key.Path() + L"\\Files"))
            names.push_back(value.name);
        return names;
    }

    TempFolder folderA{L"formA"}, folderB{L"formB"};
    ScopedTestKey key;
    AppState state;
    // A file this account may not read, as Wine cannot make one.
    FileLocker locker{[](HANDLE folder, const std::wstring& name) {
        if (name != L"denied.txt") return OpenFileLocked(folder, name);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return UniqueHandle();
    }};
    ProgramBook program{locker, key};
    GuardBook& lists = program.book;
    InfoWindow messageWindow;
    ConfigWindow form{state, lists, messageWindow};
    std::vector<std::wstring> relaunches;
};

TEST_F(ConfigWindowTest, TabRunsThroughEachListAfterItsLinksAndThePanelFollowsTheSystemColours) {
    form.Show();
    // Close has the focus first; the tab order runs through each list after
    // its links to the left panel.
    std::vector<HWND> order = {::GetNextDlgTabItem(form.Handle(), nullptr, FALSE)};
    for (int i = 0; i < 6; ++i) order.push_back(::GetNextDlgTabItem(form.Handle(), order.back(), FALSE));
    EXPECT_EQ((std::vector<HWND>{form.Control(ConfigWindow::IDC_CLOSE_BUTTON), Link(ConfigWindow::IDC_UNLOCK_LINK),
                                 Link(ConfigWindow::IDC_REMOVE_LINK), List(ConfigWindow::IDC_LOCKED_LIST),
                                 Link(ConfigWindow::IDC_RELOCK_LINK), List(ConfigWindow::IDC_UNLOCKED_LIST),
                                 FindDescendant(form.Handle(), ConfigWindow::IDC_ADD_BUTTON)}),
              order);

    // The panel and its links follow the system's colours, also when they
    // change while the window is open (the labels are checked with every
    // window's layout).
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    const auto pixels = [](HWND window, COLORREF colour) {
        RECT area{};
        ::GetClientRect(window, &area);
        HDC dc = ::GetDC(window);
        int count = 0;
        for (int y = 0; y < area.bottom; ++y) {
            for (int x = 0; x < area.right; ++x) count += ::GetPixel(dc, x, y) == colour ? 1 : 0;
        }
        ::ReleaseDC(window, dc);
        return count;
    };
    const auto panelTurns = [&](COLORREF colour) {
        return WaitUntil([&] {
            ::UpdateWindow(form.Handle());
            HDC dc = ::GetDC(Panel());
            const COLORREF corner = ::GetPixel(dc, 2, 2);
            ::ReleaseDC(Panel(), dc);
            return corner == colour;
        });
    };
    const COLORREF standard = ::GetSysColor(COLOR_WINDOW);
    {
        ScopedSystemColours scheme({COLOR_WINDOW, COLOR_WINDOWTEXT}, {black, white});
        ASSERT_TRUE(panelTurns(black));
        ::RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        HWND unlock = Link(ConfigWindow::IDC_UNLOCK_LINK);
        EXPECT_GT(pixels(unlock, white), 0);
        EXPECT_GT(pixels(unlock, black), pixels(unlock, white));
    }
    EXPECT_TRUE(panelTurns(standard));
}

// Pixels of the first entry's row, right of its text, that differ from the
// list's background: what is drawn there besides the path.
int InkBesideFirstEntry(HWND list, const std::wstring& entry, HFONT font) {
    RECT row{};
    if (::SendMessageW(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)) == LB_ERR) return -1;
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, entry.c_str(), static_cast<int>(entry.size()), &extent);
    ::SelectObject(dc, old);
    const COLORREF background = ::GetPixel(dc, row.right - 1, row.bottom - 1);
    int ink = 0;
    for (int y = row.top; y < row.bottom; ++y) {
        for (int x = row.left + 2 + extent.cx + 2; x < row.right; ++x) {
            if (::GetPixel(dc, x, y) != background) ++ink;
        }
    }
    ::ReleaseDC(list, dc);
    return ink;
}

TEST_F(ConfigWindowTest, FileInUseElsewhereIsNotedBesideTheEntryUntilItIsLocked) {
    UniqueHandle holder = StartProcess(BinaryFolder() + L"\\holder.exe", L"\"" + (folderA / L"busy.txt") + L"\"");
    ASSERT_TRUE(WaitUntil([&] { return OpenFromOutside(folderA / L"busy.txt") == ERROR_SHARING_VIOLATION; }));
    program.Begin({ItemA(), ItemB()});
    form.Show();
    HWND list = List(ConfigWindow::IDC_LOCKED_LIST);
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0));

    ASSERT_TRUE(WaitUntil([&] {
        return form.Notes() == std::vector<std::wstring>{L"1 file in use", L"with subfolders"};
    }));
    // The entries read as the paths; the note is only drawn beside them.
    EXPECT_EQ((std::vector<std::wstring>{ItemA(), ItemB()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    ::UpdateWindow(list);
    EXPECT_GT(InkBesideFirstEntry(list, ItemA(), font), 0);

    ::TerminateProcess(holder.Get(), 0);
    ::WaitForSingleObject(holder.Get(), 30000);
    ASSERT_TRUE(WaitUntil([&] { return form.Notes() == std::vector<std::wstring>{L"", L"with subfolders"}; }, 10000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderA / L"busy.txt"));
    ::UpdateWindow(list);
    EXPECT_EQ(0, InkBesideFirstEntry(list, ItemA(), font));

    // Every other reason an item is not wholly locked is noted too.
    TempFolder denied(L"denied");
    ASSERT_TRUE(WriteTextFile(denied / L"denied.txt", "d"));
    wchar_t system[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(system, MAX_PATH + 1);
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {folderB / L"gone\\*.*", L"folder missing"}, {denied / L"*.*", L"no access"},
        {L"q:\\nowhere\\*.*", L"not reachable"},     {folderA.Path(), L"folder given without \\*.*"},
        {L"relative\\*.*", L"cannot be locked"},     {std::wstring(system) + L"\\*.*", L"cannot be locked"},
    };
    // Stored so by someone else: Lock Folder refuses most of them.
    EXPECT_EQ(L"Cannot lock this critical folder!", lists.LockNewItem(expected.back().first, nullptr).message);
    std::vector<std::wstring> notes = {L"", L"with subfolders"};
    std::vector<std::wstring> stored = program.Stored();
    for (const auto& item : expected) {
        stored.push_back(item.first);
        notes.push_back(item.second);
    }
    ASSERT_TRUE(program.keeper.Keeper().ApplyStoredItems(stored));
    lists.Reload();
    form.RefreshLists();
    ASSERT_TRUE(WaitUntil([&] { return form.Notes() == notes; }, 10000)) << form.Notes().size();
    EXPECT_EQ(0u, OpenFromOutside(std::wstring(system) + L"\\kernel32.dll"));
}

TEST_F(ConfigWindowTest, UnlockAndRelockWithRealLocksAndClicks) {
    // Unlocked at noon today, to be relocked a minute later.
    SYSTEMTIME noon{};
    ::GetLocalTime(&noon);
    noon.wHour = 12;
    noon.wMinute = noon.wSecond = noon.wMilliseconds = 0;
    SYSTEMTIME utc{};
    FILETIME unlockedAt{};
    ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &noon, &utc) && ::SystemTimeToFileTime(&utc, &unlockedAt));
    program.keeper.Keeper().SetRelockSource(
        [] {
            return RelockSettings{true, 1};
        },
        [&] { return (static_cast<std::uint64_t>(unlockedAt.dwHighDateTime) << 32) | unlockedAt.dwLowDateTime; });
    noon.wMinute = 1;
    wchar_t relockTime[64] = {};
    ASSERT_NE(0, ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &noon, nullptr, relockTime, 64));
    program.Begin({ItemA(), ItemB()});
    ASSERT_TRUE(Settle(locker));
    form.Show();
    EXPECT_EQ((std::vector<std::wstring>{ItemA(), ItemB()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderB / L"file.txt"));

    // Nothing selected: the link does nothing.
    ClickCentre(Link(ConfigWindow::IDC_UNLOCK_LINK));
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(2, lists.lockedList.ListCount());

    Select(ConfigWindow::IDC_LOCKED_LIST, 1);
    ClickCentre(Link(ConfigWindow::IDC_UNLOCK_LINK));
    ASSERT_TRUE(WaitUntil([&] { return lists.unlockedList.ListCount() == 1; }, 3000));
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    EXPECT_EQ((std::vector<std::wstring>{ItemB()}), Shown(ConfigWindow::IDC_UNLOCKED_LIST));
    EXPECT_EQ((std::vector<std::wstring>{L"with subfolders, until " + std::wstring(relockTime)}), form.UnlockedNotes());
    EXPECT_EQ(LB_ERR, ::SendMessageW(List(ConfigWindow::IDC_LOCKED_LIST), LB_GETCURSEL, 0, 0));
    EXPECT_EQ(0u, OpenFromOutside(folderB / L"file.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folderB / L"sub\\deep.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderA / L"file.txt"));

    Select(ConfigWindow::IDC_UNLOCKED_LIST, 0);
    ClickCentre(Link(ConfigWindow::IDC_RELOCK_LINK));
    ASSERT_TRUE(WaitUntil([&] { return lists.unlockedList.ListCount() == 0; }, 3000));
    EXPECT_EQ((std::vector<std::wstring>{ItemA(), ItemB()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderB / L"file.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderB / L"sub\\deep.txt"));
    EXPECT_EQ((std::vector<std::wstring>{ItemA(), ItemB()}), program.Stored());

    // The same without the links: the menu key on the locked list, a right
    // click on an entry of the unlocked list.
    Select(ConfigWindow::IDC_LOCKED_LIST, 0);
    {
        MenuPicker unlock('U');
        PressKey(VK_APPS);
        ASSERT_TRUE(WaitUntil([&] { return lists.unlockedList.ListCount() == 1; }, 6000));
        EXPECT_EQ((std::vector<std::wstring>{L"&Unlock Item", L"&Remove Item"}), unlock.Entries());
    }
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), Shown(ConfigWindow::IDC_UNLOCKED_LIST));
    EXPECT_EQ(0u, OpenFromOutside(folderA / L"file.txt"));
    {
        MenuPicker relock('L');
        RECT entry{};
        ::SendMessageW(List(ConfigWindow::IDC_UNLOCKED_LIST), LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&entry));
        ClickAt(List(ConfigWindow::IDC_UNLOCKED_LIST),
                POINT{(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2}, true);
        const bool relocked = WaitUntil([&] { return lists.unlockedList.ListCount() == 0; }, 6000);
        EXPECT_EQ((std::vector<std::wstring>{L"Re&lock Item"}), relock.Entries());
        ASSERT_TRUE(relocked);
    }
    EXPECT_EQ((std::vector<std::wstring>{ItemB(), ItemA()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderA / L"file.txt"));

    // And from the keyboard alone: Tab from Close reaches Unlock Item, and
    // Space on it unlocks the selected entry.
    Select(ConfigWindow::IDC_LOCKED_LIST, 1);
    ::SetFocus(form.Control(ConfigWindow::IDC_CLOSE_BUTTON));
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return ::GetFocus() == Link(ConfigWindow::IDC_UNLOCK_LINK); }, 3000));
    PressKey(VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return lists.unlockedList.ListCount() == 1; }, 3000));
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), Shown(ConfigWindow::IDC_UNLOCKED_LIST));
    EXPECT_EQ(0u, OpenFromOutside(folderA / L"file.txt"));
}

TEST_F(ConfigWindowTest, RemoveAsksWithTheRealMessageBoxFromDeleteAndTheMenu) {
    program.Begin({ItemB(), ItemA()});
    ASSERT_TRUE(Settle(locker));
    form.Show();
    Select(ConfigWindow::IDC_LOCKED_LIST, 0);
    {
        // Delete in the locked list is Remove Item.
        MessageBoxAnswerer no(L"Remove", IDNO);
        PressKey(VK_DELETE);
        ASSERT_TRUE(WaitUntil([&] { return no.Answered(); }, 6000));
        EXPECT_EQ(L"Remove " + ItemB() + L"?", no.Text());
    }
    EXPECT_EQ(2, lists.lockedList.ListCount());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderB / L"sub\\deep.txt"));

    {
        // So is the context menu's Remove Item, here from Shift+F10.
        MenuPicker remove('R');
        MessageBoxAnswerer yes(L"Remove", IDYES);
        PressShiftF10();
        ASSERT_TRUE(WaitUntil([&] { return yes.Answered(); }, 6000));
        EXPECT_EQ((std::vector<std::wstring>{L"&Unlock Item", L"&Remove Item"}), remove.Entries());
    }
    WaitUntil([&] { return lists.lockedList.ListCount() == 1; }, 3000);
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), program.Stored());
    // The whole tree goes free.
    EXPECT_EQ(0u, OpenFromOutside(folderB / L"file.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folderB / L"sub\\deep.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderA / L"file.txt"));
}

TEST_F(ConfigWindowTest, CloseStoresThePersistedListAndHides) {
    program.Begin({L"a", L"b", L"c"});
    form.Show();
    lists.lockedList.SetListIndex(0);
    lists.UnlockSelected();  // a stays stored while unlocked
    lists.lockedList.SetListIndex(0);
    form.messageBox = [](HWND, const std::wstring&, const std::wstring&, UINT) { return IDYES; };
    form.OnRemoveItem();  // b leaves the store

    ClickCentre(form.Control(ConfigWindow::IDC_CLOSE_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return !form.IsVisible(); }, 3000));
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c"}), Registry::ReadStoredItems(key.Root(), key.Path() + L"\\Files"));
    EXPECT_EQ((std::vector<std::wstring>{L"File0", L"File1"}), StoredNames());

    // Shown again: the same lists; Close again: the same values.
    form.Show();
    EXPECT_EQ((std::vector<std::wstring>{L"c"}), Shown(ConfigWindow::IDC_LOCKED_LIST));
    EXPECT_EQ((std::vector<std::wstring>{L"a"}), Shown(ConfigWindow::IDC_UNLOCKED_LIST));
    form.OnCloseButton();
    EXPECT_EQ((std::vector<std::wstring>{L"File0", L"File1"}), StoredNames());

    lists.unlockedList.SetListIndex(0);
    lists.RelockSelected();
    for (int left = 2; left > 0; --left) {
        lists.lockedList.SetListIndex(0);
        form.OnRemoveItem();
    }
    form.OnCloseButton();
    EXPECT_TRUE(StoredNames().empty());
    HKEY files = nullptr;
    EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExW(key.Root(), (key.Path() + L"\\Files").c_str(), 0, KEY_READ, &files));
}

TEST_F(ConfigWindowTest, SaveThatCannotWriteWarnsHidesAndLeavesTheStoreAlone) {
    // What a standard user's copy meets: the stored list may be read, not written.
    const std::wstring files = key.Path() + L"\\Files";
    ASSERT_TRUE(Registry::SaveStoredItems(key.Root(), files, {L"old0", L"old1"}));
    WriteDeniedKey denied(key.Root(), files);
    ASSERT_TRUE(denied.Denied());
    program.Begin();
    TempFolder folder(L"unsaved");
    const std::wstring item = folder / L"*.*";
    EXPECT_TRUE(lists.LockNewItem(item, nullptr).message.empty());
    std::vector<std::wstring> reported;
    bool visibleWhenTold = false;
    form.messageBox = [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT) {
        visibleWhenTold = ::IsWindowVisible(owner) != FALSE;
        reported.push_back(caption + L": " + text);
        return IDOK;
    };
    form.Show();
    ClickCentre(form.Control(ConfigWindow::IDC_CLOSE_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return !form.IsVisible(); }, 3000));
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(
        L"Vaultmere: Only an administrator can change the list of locked items. Your changes stay until "
        L"Vaultmere ends.",
        reported[0]);
    EXPECT_TRUE(visibleWhenTold);
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_EQ((std::vector<std::wstring>{L"old0", L"old1"}), Registry::ReadStoredItems(key.Root(), files));
    EXPECT_EQ((std::vector<std::wstring>{L"File0", L"File1"}), StoredNames());
    EXPECT_EQ((std::vector<std::wstring>{L"old0", L"old1", item}), program.Stored());

    // Any other failure says what it was: a lasting key cannot be made under a volatile one.
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(key.Root(), (key.Path() + L"\\Volatile").c_str(), 0, nullptr,
                                               REG_OPTION_VOLATILE, KEY_READ, nullptr, &raw, nullptr));
    ::RegCloseKey(raw);
    ProgramBook broken(locker, {key.Root(), key.Path() + L"\\Volatile\\Files", key.Path() + L"\\Settings"});
    broken.Begin();
    broken.book.LockNewItem(item, nullptr);
    EXPECT_EQ(0u, broken.book.Close().message.find(L"The list of locked items could not be saved: "));

    // A list that cannot be read is not an empty one: nothing is added to it,
    // a Close writes nothing, and the prompt says why.
    ProgramBook unreadable(locker,
                           {reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5a5a)), files, key.Path() + L"\\Settings"});
    unreadable.Begin();
    EXPECT_EQ(0u, unreadable.book.Notice().find(L"The list of locked items cannot be read ("));
    EXPECT_FALSE(unreadable.book.LockNewItem(ItemA(), nullptr).changed);
    EXPECT_EQ(L"", unreadable.book.Close().message);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFromOutside(folderA / L"file.txt"));
}

TEST_F(ConfigWindowTest, AboutShowsTheVersionRecordEachTimeAfresh) {
    const std::wstring expected = L"Vaultmere\rVersion 1.4.2\r\r" + Widen(VAULTMERE_COPYRIGHT) + L"\r\r" +
                                  Widen(VAULTMERE_COMMENTS);
    form.Show();
    ClickCentre(form.Control(ConfigWindow::IDC_BUTTON_PANEL)
                    ? ::GetDlgItem(form.Control(ConfigWindow::IDC_BUTTON_PANEL), ConfigWindow::IDC_ABOUT_BUTTON)
                    : nullptr);
    ASSERT_TRUE(WaitUntil([&] { return messageWindow.IsVisible(); }, 3000));
    EXPECT_EQ(expected, messageWindow.Message());
    form.OnAbout();
    EXPECT_EQ(expected, messageWindow.Message());
    EXPECT_EQ(L"Vaultmere Information", messageWindow.Caption());
}

TEST_F(ConfigWindowTest, CloseBoxRelaunchesAndKeepsListsAndLocks) {
    state.applicationFolder = L"c:\\program files\\vaultmere\\";
    program.Begin({ItemA()});
    ASSERT_TRUE(Settle(locker));
    form.Show();
    ::SendMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }, 3000));
    EXPECT_EQ((std::vector<std::wstring>{L"c:\\program files\\vaultmere\\brwaddon.exe"}), relaunches);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folderA / L"file.txt"));
    form.Show();
    EXPECT_EQ((std::vector<std::wstring>{ItemA()}), Shown(ConfigWindow::IDC_LOCKED_LIST));
}

TEST_F(ConfigWindowTest, FailedRelaunchFallsBackToTheRunningExecutable) {
    state.applicationFolder = L"c:\\gone\\";
    form.startProgram = [this](const std::wstring& path) {
        relaunches.push_back(path);
        return relaunches.size() > 1;
    };
    form.Show();
    form.OnQueryClose(ConfigWindow::CloseReason::User);
    ASSERT_EQ(2u, relaunches.size());
    EXPECT_EQ(L"c:\\gone\\brwaddon.exe", relaunches[0]);
    EXPECT_EQ(ProgramPath(), relaunches[1]);
    EXPECT_FALSE(form.IsLoaded());
}

}  // namespace
}  // namespace vaultmere
