#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/AppState.h"
#include "common/LockBudget.h"
#include "common/TextCase.h"
#include "forms/add/AddWindow.h"
#include "locker/FileLocker.h"
#include "tests/add/AddTestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

using Names = std::vector<std::wstring>;

class RecordingLocker : public ItemLocker {
public:
    void SetItemLocked(const vaultmere::Item& item, bool locked) override {
        if (beforeCall) beforeCall();
        calls.emplace_back(item.Text(), locked);
    }
    std::vector<std::pair<std::wstring, bool>> calls;
    std::function<void()> beforeCall;
};

Names ListTexts(HWND list) {
    Names texts;
    const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]))));
        texts.push_back(text);
    }
    return texts;
}

std::wstring ComboText(HWND combo, int index) {
    std::wstring text(static_cast<size_t>(::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

// Clicks an entry of a list box, scrolling it into view first as a user would.
void ClickListEntry(HWND list, int index) {
    RECT client;
    RECT entry;
    ::GetClientRect(list, &client);
    ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&entry));
    if (entry.top < client.top || entry.bottom > client.bottom) {
        ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    }
    ClickListItem(list, index);
}

BOOL CALLBACK CloseOtherWindow(HWND window, LPARAM except) {
    if (window != reinterpret_cast<HWND>(except) && ::IsWindowVisible(window)) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

std::wstring UpperCaseForTest(std::wstring text) {
    ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

bool MouseButtonsPending() { return HIWORD(::GetQueueStatus(QS_MOUSEBUTTON)) != 0; }

class AddWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, folder);
        previousFolder_ = folder;
        state.applicationFolder = BinaryFolder() + L"\\";
        program.Begin();
    }
    void TearDown() override {
        form.Unload();
        ::SetCurrentDirectoryW(previousFolder_.c_str());
    }

    void OpenAt(AddWindow& dialog, const std::wstring& folder) {
        ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
        dialog.Show();
        ASSERT_TRUE(dialog.IsLoaded());
        ASSERT_NE(nullptr, dialog.Chooser());
    }
    void OpenAt(const std::wstring& folder) { OpenAt(form, folder); }

    HWND FolderListBox() const { return form.FindControl(AddWindow::IDC_FOLDER_LIST); }
    HWND FileListBox() const { return form.FindControl(AddWindow::IDC_FILE_LIST); }
    int Depth() const { return form.Chooser()->folderList.PathDepth(); }
    std::wstring FolderPath() const { return form.Chooser() ? form.Chooser()->folderList.Path() : std::wstring(); }
    // What the folder list shows for the folder above the current one, the
    // current one and its subfolders.
    Names FolderTail() const {
        const Names texts = ListTexts(FolderListBox());
        return Names(texts.begin() + (Depth() - 2), texts.end());
    }

    add_tests::BrowseTree tree;
    RecordingLocker locker;
    ScopedTestKey key;
    ProgramBook program{locker, key};
    GuardBook& lists = program.book;
    AppState state;
    AddWindow form{lists, state};

private:
    std::wstring previousFolder_;
};

TEST_F(AddWindowTest, OpensWithoutOwnerOrSubfoldersAndTabRunsFromTheFileListToClose) {
    OpenAt(tree.Alpha());
    HWND window = form.Handle();
    EXPECT_EQ(nullptr, ::GetWindow(window, GW_OWNER));
    EXPECT_FALSE(form.IncludeSubfolders());

    // Tab order: the file list, the folder list, Lock Folder, the drive box, the path and Go,
    // Include subfolders, Close.
    const HWND order[] = {FileListBox(),
                          FolderListBox(),
                          form.FindControl(AddWindow::IDC_LOCK_FOLDER_BUTTON),
                          form.FindControl(AddWindow::IDC_DRIVE_BOX),
                          form.FindControl(AddWindow::IDC_PATH_BOX),
                          form.FindControl(AddWindow::IDC_GO_BUTTON),
                          form.FindControl(AddWindow::IDC_SUBFOLDERS_CHECK),
                          form.FindControl(AddWindow::IDC_CLOSE_BUTTON)};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(order[(i + 1) % 8], ::GetNextDlgTabItem(window, order[i], FALSE)) << i;
    }
}

TEST_F(AddWindowTest, OpensAtTheCurrentFolderWithHiddenAndSystemFilesListed) {
    OpenAt(tree.Alpha());
    EXPECT_EQ(tree.Alpha(), FolderPath());
    EXPECT_EQ(tree.Alpha(), form.Chooser()->fileList.Path());

    const Names chain = FolderChain(tree.Alpha());
    Names shown = ListTexts(FolderListBox());
    ASSERT_EQ(chain.size() + 3, shown.size());
    EXPECT_EQ(chain.front(), shown.front());
    EXPECT_EQ((Names{L"Alpha", L"Beta", L"gamma", L"Zeta"}), Names(shown.begin() + (Depth() - 1), shown.end()));
    EXPECT_EQ(Depth() - 1, static_cast<int>(::SendMessageW(FolderListBox(), LB_GETCURSEL, 0, 0)));
    EXPECT_EQ(tree.AlphaFiles(), ListTexts(FileListBox()));

    HWND driveBox = form.FindControl(AddWindow::IDC_DRIVE_BOX);
    const int drive = static_cast<int>(::SendMessageW(driveBox, CB_GETCURSEL, 0, 0));
    ASSERT_GE(drive, 0);
    EXPECT_EQ(LowerCase(tree.Alpha().substr(0, 2)), ComboText(driveBox, drive).substr(0, 2));
    EXPECT_EQ(form.Chooser()->driveList.ListCount(), static_cast<int>(::SendMessageW(driveBox, CB_GETCOUNT, 0, 0)));
}

// Whether the square of an entry where its icon goes holds anything but
// the list's background.
bool EntryHasIcon(HWND list, int index, int indent) {
    RECT entry;
    ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&entry));
    const int size = ::GetSystemMetrics(SM_CXSMICON);
    const COLORREF background = ::GetSysColor(COLOR_WINDOW);
    HDC dc = ::GetDC(list);
    bool drawn = false;
    for (int y = entry.top; y < entry.bottom && !drawn; ++y) {
        for (int x = entry.left + indent; x < entry.left + indent + size && !drawn; ++x) {
            const COLORREF pixel = ::GetPixel(dc, x, y);
            drawn = pixel != CLR_INVALID && pixel != background;
        }
    }
    ::ReleaseDC(list, dc);
    return drawn;
}

TEST_F(AddWindowTest, FolderEntriesShowFolderIconsIndentedAsATree) {
    OpenAt(tree.Alpha());
    ::UpdateWindow(FolderListBox());
    // Each level is indented by half an icon and a little.
    const int step = ::GetSystemMetrics(SM_CXSMICON) / 2 + 2;
    const int alphaIndent = 2 + (Depth() - 1) * step;
    const int betaIndent = 2 + Depth() * step;
    EXPECT_TRUE(EntryHasIcon(FolderListBox(), Depth() - 1, alphaIndent));
    EXPECT_TRUE(EntryHasIcon(FolderListBox(), Depth(), betaIndent));
    // A subfolder's entry is indented: nothing stands where the root's icon goes.
    ASSERT_GE(Depth(), 2);
    EXPECT_FALSE(EntryHasIcon(FolderListBox(), Depth(), 2));
}

TEST_F(AddWindowTest, OneClickOpensASubfolderAndAnotherGoesBackUp) {
    OpenAt(tree.Alpha());
    ClickListEntry(FolderListBox(), Depth());  // Beta
    ASSERT_TRUE(WaitUntil([this] { return FolderPath() == tree.Beta(); }));
    EXPECT_EQ(Names{L"inner.txt"}, ListTexts(FileListBox()));
    EXPECT_EQ((Names{L"Alpha", L"Beta", L"Deep"}), FolderTail());

    // At once, a click where Beta was would be a double click, which the list ignores.
    ::Sleep(::GetDoubleClickTime());
    ClickListEntry(FolderListBox(), Depth() - 2);  // Alpha, the folder above
    ASSERT_TRUE(WaitUntil([this] { return FolderPath() == tree.Alpha(); }));
    EXPECT_EQ(tree.AlphaFiles(), ListTexts(FileListBox()));
    EXPECT_EQ(tree.Alpha(), form.Chooser()->fileList.Path());
}

TEST_F(AddWindowTest, ArrowKeysOnlySelectEnterOpensATypedPathIsTakenAndTheWheelTurnsTheListUnderThePointer) {
    std::wstring refusal;
    form.messageBox = [&refusal](HWND, const std::wstring& text, const std::wstring&, UINT) {
        refusal = text;
        return IDOK;
    };
    OpenAt(tree.Alpha());
    ::SetForegroundWindow(form.Handle());
    ::SetFocus(FolderListBox());
    PressKey(VK_DOWN);
    ASSERT_TRUE(WaitUntil([this] { return form.Chooser()->folderList.ListIndex() == 0; }));
    EXPECT_EQ(tree.Alpha(), FolderPath());

    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([this] { return FolderPath() == tree.Beta(); }));
    EXPECT_EQ(Names{L"inner.txt"}, ListTexts(FileListBox()));
    HWND pathBox = form.FindControl(AddWindow::IDC_PATH_BOX);

    // A pasted path, quoted, goes there with Enter; a file is refused and stays to be put right.
    ::SetWindowTextW(pathBox, (L" \"" + tree.Alpha() + L"\\Zeta\" ").c_str());
    ::SetFocus(pathBox);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([this] { return FolderPath() == tree.Alpha() + L"\\Zeta"; }));
    EXPECT_EQ(tree.Alpha() + L"\\Zeta", WindowText(pathBox));
    ::SetWindowTextW(pathBox, (tree.Alpha() + L"\\one.txt").c_str());
    ClickCentre(form.FindControl(AddWindow::IDC_GO_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return refusal == L"This is a file, not a folder!"; }));
    EXPECT_EQ(tree.Alpha() + L"\\Zeta", FolderPath());
    EXPECT_EQ(tree.Alpha() + L"\\one.txt", WindowText(pathBox));

    // The wheel over the folder list turns it while Close, to which Windows before 10 sends it, has
    // the focus. The Windows folder has more subfolders than the list has rows.
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::SetWindowTextW(pathBox, windows);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return EqualsIgnoringCase(FolderPath(), windows); }));
    const LRESULT top = ::SendMessageW(FolderListBox(), LB_GETTOPINDEX, 0, 0);
    RECT list;
    ::GetWindowRect(FolderListBox(), &list);
    ::PostMessageW(form.FindControl(AddWindow::IDC_CLOSE_BUTTON), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                   MAKELPARAM((list.left + list.right) / 2, (list.top + list.bottom) / 2));
    EXPECT_TRUE(WaitUntil([&] { return ::SendMessageW(FolderListBox(), LB_GETTOPINDEX, 0, 0) > top; }));
}

TEST_F(AddWindowTest, FolderThatVanishedLeavesTheListsWhereTheyWere) {
    OpenAt(tree.Alpha());
    const Names folders = ListTexts(FolderListBox());
    DeleteTree(tree.Alpha() + L"\\Zeta");
    const int zeta = Depth() + 2;
    ClickListEntry(FolderListBox(), zeta);
    ASSERT_TRUE(WaitUntil(
        [&] { return ::SendMessageW(FolderListBox(), LB_GETCURSEL, 0, 0) == zeta && !MouseButtonsPending(); }));
    EXPECT_EQ(tree.Alpha(), FolderPath());
    EXPECT_EQ(folders, ListTexts(FolderListBox()));
    EXPECT_EQ(tree.AlphaFiles(), ListTexts(FileListBox()));
    EXPECT_TRUE(form.IsVisible());
}

TEST_F(AddWindowTest, DriveThatIsNotReadyKeepsTheFolderAndFileListsAndSaysNothing) {
    add_tests::DisksWithEmptyDrive disks;
    ASSERT_NE(L'\0', disks.Letter());
    AddWindow dialog(lists, state, disks);
    int messages = 0;
    dialog.messageBox = [&messages](HWND, const std::wstring&, const std::wstring&, UINT) { return ++messages; };
    OpenAt(dialog, tree.Alpha());
    HWND folderBox = dialog.FindControl(AddWindow::IDC_FOLDER_LIST);
    const Names folders = ListTexts(folderBox);

    HWND driveBox = dialog.FindControl(AddWindow::IDC_DRIVE_BOX);
    int empty = -1;
    for (int i = 0; i < static_cast<int>(::SendMessageW(driveBox, CB_GETCOUNT, 0, 0)); ++i) {
        if (ComboText(driveBox, i)[0] == disks.Letter()) empty = i;
    }
    ASSERT_GE(empty, 0);
    // What the drive list tells its parent when the user picks an entry.
    ::SendMessageW(driveBox, CB_SETCURSEL, static_cast<WPARAM>(empty), 0);
    ::SendMessageW(::GetParent(driveBox), WM_COMMAND, MAKEWPARAM(AddWindow::IDC_DRIVE_BOX, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(driveBox));

    EXPECT_EQ((std::wstring{disks.Letter(), L':'}), dialog.Chooser()->driveList.Drive());
    EXPECT_EQ(empty, static_cast<int>(::SendMessageW(driveBox, CB_GETCURSEL, 0, 0)));
    EXPECT_EQ(tree.Alpha(), dialog.Chooser()->folderList.Path());
    EXPECT_EQ(folders, ListTexts(folderBox));
    EXPECT_EQ(tree.AlphaFiles(), ListTexts(dialog.FindControl(AddWindow::IDC_FILE_LIST)));
    EXPECT_EQ(0, messages);
    dialog.Unload();
}

TEST_F(AddWindowTest, EscClosesAndTheNextOpeningStartsAfresh) {
    OpenAt(tree.Alpha());
    const std::wstring designedNote = form.ControlText(AddWindow::IDC_NOTE_LABEL);
    form.OnLockFolder();
    ASSERT_NE(designedNote, form.ControlText(AddWindow::IDC_NOTE_LABEL));
    HWND first = form.Handle();
    form.Show();
    EXPECT_EQ(first, form.Handle());

    ::SetForegroundWindow(form.Handle());
    ::SetFocus(FileListBox());
    PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([this] { return !form.IsLoaded(); }));

    OpenAt(tree.Beta());
    EXPECT_EQ(designedNote, form.ControlText(AddWindow::IDC_NOTE_LABEL));
    EXPECT_EQ(tree.Beta(), FolderPath());
    EXPECT_EQ(Names{L"inner.txt"}, ListTexts(FileListBox()));

    // Close and the close box unload it too.
    ClickCentre(form.FindControl(AddWindow::IDC_CLOSE_BUTTON));
    ASSERT_TRUE(WaitUntil([this] { return !form.IsLoaded(); }));
    OpenAt(tree.Beta());
    ::SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(form.IsLoaded());
}

TEST_F(AddWindowTest, LockFolderConfirmsThenAppendsToBothListsThenLocksOnce) {
    OpenAt(tree.Alpha());
    const std::wstring item = LowerCase(tree.Alpha()) + L"\\*.*";
    const std::wstring confirmation = L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.";

    // What each step finds done when it runs.
    std::vector<std::wstring> seenAtLock;
    int hookCalls = 0;
    form.onListsChanged = [&] {
        ++hookCalls;
        EXPECT_EQ(1u, lists.lockedList.Entries().size());
        EXPECT_EQ(1u, program.Stored().size());
    };
    locker.beforeCall = [&] {
        seenAtLock.push_back(form.ControlText(AddWindow::IDC_NOTE_LABEL));
        EXPECT_EQ(1u, program.Stored().size());
    };

    HWND button = form.FindControl(AddWindow::IDC_LOCK_FOLDER_BUTTON);
    ClickCentre(button);
    ASSERT_TRUE(WaitUntil([this] { return locker.calls.size() == 1; }));
    // Pressed again, and on the same folder in other case: no second entry,
    // no second lock; the note reads as before.
    form.SetControlText(AddWindow::IDC_NOTE_LABEL, L"");
    ClickCentre(button);
    ASSERT_TRUE(WaitUntil([&] { return form.ControlText(AddWindow::IDC_NOTE_LABEL) == confirmation; }));
    EXPECT_FALSE(lists.LockNewItem(UpperCaseForTest(item), nullptr).changed);

    EXPECT_EQ((Names{item}), lists.lockedList.Texts());
    EXPECT_EQ((Names{item}), program.Stored());
    EXPECT_TRUE(lists.unlockedList.Entries().empty());
    const std::pair<std::wstring, bool> lock(item, true);
    EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{lock}), locker.calls);
    EXPECT_EQ((Names{confirmation}), seenAtLock);
    EXPECT_EQ(1, hookCalls);
    EXPECT_EQ(confirmation, form.ControlText(AddWindow::IDC_NOTE_LABEL));
    EXPECT_TRUE(form.IsVisible());

    // An item that was unlocked is relocked as Relock Item does it.
    lists.lockedList.SetListIndex(0);
    lists.UnlockSelected();
    form.OnLockFolder();
    EXPECT_EQ((Names{item}), lists.lockedList.Texts());
    EXPECT_TRUE(lists.unlockedList.Entries().empty());
    EXPECT_EQ((Names{item}), program.Stored());
    EXPECT_EQ(2, hookCalls);
    const std::pair<std::wstring, bool> unlock(item, false);
    EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{lock, unlock, lock}), locker.calls);
}

TEST_F(AddWindowTest, AddedFolderIsReallyLockedAndWithSubfoldersTicked) {
    FileLocker files;
    ScopedTestKey realKey;
    ProgramBook real(files, realKey);
    real.Begin();
    GuardBook& realLists = real.book;
    AddWindow dialog(realLists, state);
    OpenAt(dialog, tree.Alpha());
    ClickCentre(dialog.FindControl(AddWindow::IDC_LOCK_FOLDER_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return realLists.lockedList.ListCount() == 1; }));
    ASSERT_TRUE(Settle(files));

    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(tree.Alpha() + L"\\one.txt"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(tree.Alpha() + L"\\README"));
    EXPECT_EQ(0u, OpenFromOutside(tree.Beta() + L"\\inner.txt"));

    // Ticked, the same folder is added again as a tree: everything beneath
    // it is locked as well, but for hidden files and folders.
    ASSERT_TRUE(WriteTextFile(tree.Beta() + L"\\Deep\\deeper.txt", "d"));
    ASSERT_TRUE(WriteTextFile(tree.Alpha() + L"\\gamma\\in-hidden.txt", "g"));
    ClickCentre(dialog.FindControl(AddWindow::IDC_SUBFOLDERS_CHECK));
    ASSERT_TRUE(WaitUntil([&] { return dialog.IncludeSubfolders(); }));
    ClickCentre(dialog.FindControl(AddWindow::IDC_LOCK_FOLDER_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return realLists.lockedList.ListCount() == 2; }));
    const std::wstring item = LowerCase(tree.Alpha()) + L"\\**\\*.*";
    EXPECT_EQ((Names{LowerCase(tree.Alpha()) + L"\\*.*", item}), real.Stored());
    EXPECT_EQ(L"Folder " + item + L" added for locking! Sub folders were locked too.",
              dialog.ControlText(AddWindow::IDC_NOTE_LABEL));
    ASSERT_TRUE(Settle(files));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(tree.Beta() + L"\\inner.txt"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(tree.Beta() + L"\\Deep\\deeper.txt"));
    EXPECT_EQ(0u, OpenFromOutside(tree.Alpha() + L"\\hidden.txt"));
    EXPECT_EQ(0u, OpenFromOutside(tree.Alpha() + L"\\gamma\\in-hidden.txt"));
    dialog.Unload();
    // The lock outlives the dialog, and the next dialog starts unticked.
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(tree.Alpha() + L"\\Two.TXT"));
    OpenAt(dialog, tree.Beta());
    EXPECT_FALSE(dialog.IncludeSubfolders());
}

struct Refusal {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
    int count = 0;
};

TEST_F(AddWindowTest, ProgramsOwnFolderIsRefusedAndNothingChanges) {
    Refusal refusal;
    form.messageBox = [&refusal](HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
        refusal = Refusal{owner, text, caption, type, refusal.count + 1};
        return IDOK;
    };
    TempFolder folder;
    ASSERT_TRUE(WriteTextFile(folder / L"a.txt", "a"));
    ASSERT_TRUE(WriteTextFile(folder / L"BRWADDON.EXE", "MZ"));
    OpenAt(folder.Path());
    const std::wstring designedNote = form.ControlText(AddWindow::IDC_NOTE_LABEL);
    ClickCentre(form.FindControl(AddWindow::IDC_LOCK_FOLDER_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return refusal.count == 1; }));
    EXPECT_EQ(form.Handle(), refusal.owner);
    EXPECT_EQ(L"Cannot lock this critical folder!", refusal.text);
    EXPECT_EQ(L"Vaultmere", refusal.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), refusal.type);

    // The folder the program runs from.
    form.Unload();
    OpenAt(ProgramFolder());
    form.OnLockFolder();
    EXPECT_EQ(2, refusal.count);
    EXPECT_EQ(L"Cannot lock this critical folder!", refusal.text);

    // The Windows folder and its system folders, however the path is written;
    // under WOW64 SysWOW64 and Sysnative are there and refused too, to a
    // 64-bit process SysWOW64 only.
    wchar_t windowsFolder[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetWindowsDirectoryW(windowsFolder, MAX_PATH));
    const std::wstring windows = windowsFolder;
    int refusals = 2;
    for (const std::wstring& folder :
         {windows, windows + L"\\System32", windows + L"\\SysWOW64", windows + L"\\Sysnative"}) {
        SCOPED_TRACE(folder);
        if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            EXPECT_FALSE(IsWow64());
            continue;
        }
        form.Unload();
        OpenAt(UpperCaseForTest(folder) + L"\\");
        form.OnLockFolder();
        EXPECT_EQ(++refusals, refusal.count);
        EXPECT_EQ(L"Cannot lock this critical folder!", refusal.text);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), refusal.type);
    }
    EXPECT_EQ(IsWow64() ? 6 : On64BitWindows() ? 5 : 4, refusals);
    EXPECT_EQ(designedNote, form.ControlText(AddWindow::IDC_NOTE_LABEL));

    // With its subfolders, one that holds more than the keeper's limit
    // (Alpha: 4 files not hidden, Beta, Zeta, Beta\inner.txt, Beta\Deep).
    form.Unload();
    ScopedTestKey smallKey;
    ProgramBook small(locker, smallKey, 7);
    small.Begin();
    AddWindow smallForm{small.book, state};
    smallForm.messageBox = form.messageBox;
    OpenAt(smallForm, tree.Alpha());
    ::SendMessageW(smallForm.FindControl(AddWindow::IDC_SUBFOLDERS_CHECK), BM_SETCHECK, BST_CHECKED, 0);
    smallForm.OnLockFolder();
    EXPECT_EQ(TreeTooLargeText(7), refusal.text);
    smallForm.Unload();

    EXPECT_TRUE(lists.lockedList.Entries().empty());
    EXPECT_TRUE(program.Stored().empty());
    EXPECT_TRUE(locker.calls.empty());
}

// The refusal as the user meets it: a modal box captioned "Vaultmere".
TEST_F(AddWindowTest, RefusalShowsTheSystemMessageBox) {
    TempFolder folder;
    ASSERT_TRUE(WriteTextFile(folder / L"brwaddon.exe", "MZ"));
    OpenAt(folder.Path());

    const DWORD formThread = ::GetCurrentThreadId();
    HWND formWindow = form.Handle();
    Refusal seen;
    bool foundByCaption = false;
    bool hasIcon = false;
    std::thread watcher([&] {
        HWND box = nullptr;
        foundByCaption = WaitUntil(
            [&] {
                box = ::FindWindowW(L"#32770", L"Vaultmere");
                return box != nullptr && ::IsWindowVisible(box);
            },
            15000);
        if (!foundByCaption) {
            // Close whatever else the form's thread shows, so the test ends.
            ::EnumThreadWindows(formThread, &CloseOtherWindow, reinterpret_cast<LPARAM>(formWindow));
            return;
        }
        seen.owner = ::GetWindow(box, GW_OWNER);
        for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[32] = {};
            ::GetClassNameW(child, className, 32);
            if (lstrcmpiW(className, L"Static") != 0) continue;
            if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                hasIcon = hasIcon || ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
            } else if (seen.text.empty()) {
                seen.text = WindowText(child);
            }
        }
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    form.OnLockFolder();
    watcher.join();

    EXPECT_TRUE(foundByCaption);
    EXPECT_EQ(formWindow, seen.owner);
    EXPECT_EQ(L"Cannot lock this critical folder!", seen.text);
    EXPECT_TRUE(hasIcon);
    EXPECT_TRUE(lists.lockedList.Entries().empty());
    EXPECT_TRUE(locker.calls.empty());
    EXPECT_TRUE(form.IsLoaded());
}

}  // namespace
}  // namespace vaultmere
