#include <algorithm>

#include "forms/add/AddWindow.h"
#include "forms/info/InfoWindow.h"
#include "forms/password/PasswordWindow.h"

#include "common/TextCase.h"
#include "store/RelockStore.h"
#include "tests/support/ProgramTest.h"

using namespace testing_support;
using vaultmere::AddWindow;
using vaultmere::InfoWindow;
using vaultmere::PasswordWindow;

namespace {

class EndToEndTest : public ProgramTest {
protected:
    void OpenConfiguration(const std::wstring& currentFolder = L"") {
        Start(currentFolder);
        ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
        RequestPrompt();
        EnterPassword(L"secret");
        ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));
    }
    static int IndexOf(HWND list, const std::wstring& text) {
        const std::vector<std::wstring> entries = ListBoxEntries(list);
        const auto it = std::find(entries.begin(), entries.end(), text);
        return it == entries.end() ? -1 : static_cast<int>(it - entries.begin());
    }
    static std::string Entries(HWND list) {
        std::string all;
        for (const std::wstring& entry : ListBoxEntries(list)) {
            for (wchar_t c : entry) all.push_back(c < 128 ? static_cast<char>(c) : '?');
            all += " | ";
        }
        return all;
    }
    // One click on a folder list entry, scrolled into view first.
    static void ClickEntry(HWND list, const std::wstring& name) {
        int index = -1;
        ASSERT_TRUE(WaitUntil([&] { return (index = IndexOf(list, name)) >= 0; }, 5000)) << Entries(list);
        ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
        ClickListItem(list, index);
    }
    // On 64-bit Windows the value lies in the 32-bit view only, where the
    // setup and the uninstaller look.
    static void ExpectIn32BitViewOnly(const std::wstring& keyPath, const std::wstring& valueName) {
        if (!On64BitWindows()) return;
        const RegistryViews views = FindInRegistryViews(keyPath, valueName);
        EXPECT_TRUE(views.in32BitView);
        EXPECT_FALSE(views.in64BitView);
    }
};

TEST_F(EndToEndTest, AddDialogLocksAFolderReachedWithOneClickPerLevel) {
    TempFolder root(L"e2e");
    ASSERT_TRUE(MakeFolder(root / L"Outer"));
    ASSERT_TRUE(MakeFolder(root / L"Outer\\Inner"));
    ASSERT_TRUE(WriteTextFile(root / L"Outer\\Inner\\inner.txt", "i"));
    OpenConfiguration(root.Path());

    HWND add = ClickToOpen(FindDescendant(Configuration(), ConfigWindow::IDC_ADD_BUTTON), L"Add Files and Folders");
    ASSERT_NE(nullptr, add);
    HWND folders = WaitForControl(add, AddWindow::IDC_FOLDER_LIST);
    HWND files = WaitForControl(add, AddWindow::IDC_FILE_LIST);

    ClickEntry(folders, L"Outer");
    ASSERT_TRUE(WaitUntil([&] { return IndexOf(folders, L"Inner") >= 0; }, 5000));
    // Two clicks within the double-click time are one double click.
    ::Sleep(::GetDoubleClickTime() + 100);
    ClickEntry(folders, L"Inner");
    ASSERT_TRUE(WaitUntil([&] { return IndexOf(files, L"inner.txt") >= 0; }, 5000));
    ASSERT_EQ(0u, OpenFromOutside(root / L"Outer\\Inner\\inner.txt"));

    EXPECT_TRUE(ClickUntil(FindDescendant(add, AddWindow::IDC_LOCK_FOLDER_BUTTON), [&] {
        return OpenFromOutside(root / L"Outer\\Inner\\inner.txt") == ERROR_SHARING_VIOLATION;
    }));
    const std::wstring item = vaultmere::LowerCase(root.Path() + L"\\Outer\\Inner\\*.*");
    EXPECT_TRUE(WaitUntil([&] { return IndexOf(LockedList(Configuration()), item) == 1; }, 3000));
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.",
              WindowText(FindDescendant(add, AddWindow::IDC_NOTE_LABEL)));

    // Close stores it after the item loaded at start.
    ASSERT_TRUE(ClickUntil(FindDescendant(Configuration(), ConfigWindow::IDC_CLOSE_BUTTON),
                           [] { return !::IsWindowVisible(Configuration()); }));
    EXPECT_EQ((std::vector<std::wstring>{folder.Path() + L"\\*.*", item}),
              Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));
    ExpectIn32BitViewOnly(Registry::kFilesKeyPath, L"File1");
}

TEST_F(EndToEndTest, NewPasswordIsAskedByTheNextRequestAndTheNextStart) {
    OpenConfiguration();
    // About reads the version record, whose library the program loads only
    // from the system folder.
    HWND about = ClickToOpen(FindDescendant(Configuration(), ConfigWindow::IDC_ABOUT_BUTTON), L"Vaultmere Information");
    ASSERT_NE(nullptr, about);
    HWND aboutText = WaitForControl(about, InfoWindow::IDC_MESSAGE_LABEL);
    EXPECT_TRUE(
        WaitUntil([&] { return WindowText(aboutText).find(L"\r\nVersion 1.4.2\r\n") != std::wstring::npos; }, 3000))
        << WindowText(aboutText).size();
    ASSERT_TRUE(
        ClickUntil(WaitForControl(about, InfoWindow::IDC_OK_BUTTON), [&] { return !::IsWindowVisible(about); }));

    HWND dialog = ClickToOpen(FindDescendant(Configuration(), ConfigWindow::IDC_SET_PASSWORD_BUTTON),
                              L"Change Password");
    ASSERT_NE(nullptr, dialog);
    HWND field = WaitForControl(dialog, PasswordWindow::IDC_PASSWORD_EDIT);
    HWND ok = WaitForControl(dialog, PasswordWindow::IDC_OK_BUTTON);
    for (const wchar_t* entry : {L"NewPw", L"newpw"}) {
        ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(entry));
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(ok) != FALSE; }, 3000));
        ASSERT_TRUE(ClickUntil(
            ok, [&] { return !::IsWindow(dialog) || WindowText(field).empty(); }, 3, 20000));
    }
    ASSERT_TRUE(WaitUntil([] { return Window(L"Change Password") == nullptr; }, 20000));
    EXPECT_TRUE(VerifiesPassword(Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                                            Registry::kPasswordValueName)
                                     .ToText(),
                                 L"newpw"));
    ExpectIn32BitViewOnly(Registry::kSettingsKeyPath, Registry::kPasswordValueName);

    ASSERT_TRUE(ClickUntil(FindDescendant(Configuration(), ConfigWindow::IDC_CLOSE_BUTTON),
                           [] { return !::IsWindowVisible(Configuration()); }));

    // The next request asks for the new password; the old one is refused.
    // Each check hashes with the full rounds (more than a second under Wine).
    RequestPrompt();
    EnterPassword(L"secret");
    ASSERT_TRUE(WaitUntil([] { return WindowText(PromptField()).empty(); }, 20000));
    EXPECT_FALSE(::IsWindowVisible(Configuration()));
    EnterPassword(L"NEWPW");
    ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Configuration()) != FALSE; }, 20000));

    // So does the next start, which reads it from the registry.
    EndStrayCopies();
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    RequestPrompt();
    EnterPassword(L"newpw");
    EXPECT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 20000));
}

TEST_F(EndToEndTest, ALockedSessionRelocksWhatWasUnlockedAndClosesTheWindowUnlessTurnedOffAndPolicyWins) {
    struct Settings {
        ~Settings() {
            Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                          Registry::kRelockOnSessionLockValueName);
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Registry::kPolicyKeyPath, KEY_WOW64_64KEY, 0);
        }
        static void Set(const wchar_t* keyPath, REGSAM view, DWORD on) {
            vaultmere::UniqueKey key;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_SET_VALUE | view,
                                                       nullptr, key.Put(), nullptr));
            ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), Registry::kRelockOnSessionLockValueName, 0, REG_DWORD,
                                                      reinterpret_cast<const BYTE*>(&on), sizeof on));
        }
    } settings;
    const std::wstring doc = folder / L"doc.txt";
    auto lockSession = [&](bool relocks) {
        ::SendMessageW(Resident(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
        EXPECT_EQ(relocks, WaitUntil([&] { return OpenFromOutside(doc) == ERROR_SHARING_VIOLATION; }, 3000));
        EXPECT_EQ(relocks, !::IsWindowVisible(Configuration()));
    };
    OpenConfiguration();
    for (const bool on : {true, false}) {
        if (!on) {
            Settings::Set(Registry::kSettingsKeyPath, Registry::kRegistryView, 0);
            RequestPrompt();
            EnterPassword(L"secret");
            ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Configuration()) != FALSE; }, 5000));
        }
        ASSERT_TRUE(RepeatUntil(
            [] {
                ClickListItem(LockedList(Configuration()), 0);
                WaitUntil([] { return ::SendMessageW(LockedList(Configuration()), LB_GETCURSEL, 0, 0) == 0; }, 2000);
                ClickCentre(FindDescendant(Configuration(), ConfigWindow::IDC_UNLOCK_LINK));
            },
            [&] { return OpenFromOutside(doc) == 0; }));
        lockSession(on);
    }
    Settings::Set(Registry::kPolicyKeyPath, KEY_WOW64_64KEY, 1);
    lockSession(true);
}

}  // namespace
