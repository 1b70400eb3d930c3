#include <gtest/gtest.h>

#include <windows.h>
#include <imm.h>

#include <string>
#include <vector>

#include "common/AppState.h"
#include "common/SystemError.h"
#include "forms/FormKit.h"
#include "forms/password/PasswordWindow.h"
#include "store/Registry.h"
#include "tests/support/TestSupport.h"

using testing_support::ClickCentre;
using testing_support::PressKey;
using testing_support::ProgramBook;
using testing_support::ScopedTestKey;
using testing_support::TextThatCannotBeRead;
using testing_support::VerifiesPassword;
using testing_support::WaitUntil;
using vaultmere::AppState;
using vaultmere::GuardBook;
using vaultmere::ItemLocker;
using vaultmere::LocalKeeper;
using vaultmere::PasswordWindow;

namespace {

std::vector<UINT> SystemMenuIds(HWND window) {
    std::vector<UINT> ids;
    HMENU menu = ::GetSystemMenu(window, FALSE);
    const int count = menu ? ::GetMenuItemCount(menu) : 0;
    ids.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i) ids.push_back(::GetMenuItemID(menu, i));
    return ids;
}

// The dialog's keeper locks nothing here.
class NoLocks : public ItemLocker {
public:
    void SetItemLocked(const vaultmere::Item&, bool) override {}
};

class ChangePasswordWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form.showWarning = [this](HWND, const std::wstring& text) { warnings.push_back(text); };
        form.passwordSet = [this] { ++passwordsSet; };
        state.storedPassword = L"old";
        form.book = &program.book;
        program.Begin();
    }
    void TearDown() override { form.Unload(); }

    void Open() {
        form.Show();
        ASSERT_TRUE(form.IsLoaded());
        ::SetForegroundWindow(form.Handle());
        ui::PumpMessages();
    }
    HWND Box() const { return form.Control(PasswordWindow::IDC_PASSWORD_EDIT); }
    HWND OkButton() const { return form.Control(PasswordWindow::IDC_OK_BUTTON); }
    std::wstring Prompt() const { return form.ControlText(PasswordWindow::IDC_PROMPT_LABEL); }
    bool OkEnabled() const { return ::IsWindowEnabled(OkButton()) != FALSE; }
    void Type(const std::wstring& text) {
        for (wchar_t ch : text) ::SendMessageW(Box(), WM_CHAR, ch, 1);
    }
    // A key pressed in the password box, through the message queue and so
    // through the dialog keyboard handling of the message pump.
    void PostKey(UINT key) {
        ::PostMessageW(Box(), WM_KEYDOWN, key, 1);
        ::PostMessageW(Box(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    }
    void ClickOkAndWaitFor(const std::wstring& prompt) {
        ClickCentre(OkButton());
        ASSERT_TRUE(WaitUntil([&] { return Prompt() == prompt; })) << "prompt: " << Prompt().size();
    }
    void ClickOkAndWaitForClose() {
        ClickCentre(OkButton());
        ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }));
    }
    std::wstring SettingsPath() const { return key.Path() + L"\\Settings"; }
    std::wstring StoredValue() const {
        return Registry::GetRegistryValue(key.Root(), SettingsPath(), Registry::kPasswordValueName).ToText();
    }

    ScopedTestKey key;
    NoLocks locker;
    ProgramBook program{locker, key};
    AppState state;
    PasswordWindow form{state};
    std::vector<std::wstring> warnings;
    int passwordsSet = 0;
};

TEST_F(ChangePasswordWindowTest, OpensCentredWithoutOwnerWithTheEmptyMaskedBoxFocusedAndOkOff) {
    Open();
    HWND dialog = form.Handle();
    EXPECT_EQ(nullptr, ::GetWindow(dialog, GW_OWNER));

    RECT frame, work;
    ::GetWindowRect(dialog, &frame);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((work.left + work.right) / 2.0, (frame.left + frame.right) / 2.0, 1);
    EXPECT_NEAR((work.top + work.bottom) / 2.0, (frame.top + frame.bottom) / 2.0, 1);

    EXPECT_NE(0, ::GetWindowLongW(Box(), GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(static_cast<LRESULT>(L'*'), ::SendMessageW(Box(), EM_GETPASSWORDCHAR, 0, 0));
    EXPECT_EQ(8, ::SendMessageW(Box(), EM_GETLIMITTEXT, 0, 0));
    EXPECT_EQ(nullptr, ::ImmGetContext(Box())) << "input method editor still on";
    EXPECT_EQ(L"", form.ControlText(PasswordWindow::IDC_PASSWORD_EDIT));
    EXPECT_FALSE(OkEnabled());
    EXPECT_EQ(Box(), ::GetFocus());
}

TEST_F(ChangePasswordWindowTest, LoadRemovesTheSixthSystemMenuEntry) {
    Open();
    const std::vector<UINT> loaded = SystemMenuIds(form.Handle());
    // Reverting gives the menu the platform builds for this window.
    ::GetSystemMenu(form.Handle(), TRUE);
    std::vector<UINT> fresh = SystemMenuIds(form.Handle());
    ASSERT_GT(fresh.size(), 5u) << "the platform menu has no entry at position 5";
    fresh.erase(fresh.begin() + 5);
    EXPECT_EQ(fresh, loaded);
}

TEST_F(ChangePasswordWindowTest, OkFollowsTheBoxAndTheBoxTakesEightCharacters) {
    Open();
    EXPECT_FALSE(OkEnabled());
    Type(L"a");
    EXPECT_TRUE(OkEnabled());
    Type(L"\b");
    EXPECT_EQ(L"", form.ControlText(PasswordWindow::IDC_PASSWORD_EDIT));
    EXPECT_FALSE(OkEnabled());

    Type(L"123456789");
    EXPECT_EQ(L"12345678", form.ControlText(PasswordWindow::IDC_PASSWORD_EDIT));
    // Text set by code counts as a change too.
    ::SetWindowTextW(Box(), L"");
    EXPECT_FALSE(OkEnabled());
    ::SetWindowTextW(Box(), L"x");
    EXPECT_TRUE(OkEnabled());
}

TEST_F(ChangePasswordWindowTest, MixedCaseEntriesAreStoredLowerCased) {
    Open();
    Type(L"MiXeD\x00C9");
    ClickOkAndWaitFor(L"Please confirm your password.");
    EXPECT_EQ(L"", form.ControlText(PasswordWindow::IDC_PASSWORD_EDIT));
    EXPECT_FALSE(OkEnabled());
    EXPECT_EQ(Box(), ::GetFocus());
    EXPECT_EQ(L"mixed\x00E9", form.Stages().FirstEntry());
    EXPECT_EQ(L"old", state.storedPassword);
    EXPECT_EQ(L"", StoredValue());

    Type(L"mIxEd\x00E9");
    ClickOkAndWaitForClose();
    EXPECT_TRUE(VerifiesPassword(StoredValue(), L"mixed\x00E9"));
    EXPECT_EQ(L"mixed\x00E9", state.storedPassword);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(1, passwordsSet);
}

TEST_F(ChangePasswordWindowTest, AMismatchAsksAgainFromAFirstEntry) {
    Open();
    Type(L"one");
    ClickOkAndWaitFor(L"Please confirm your password.");
    Type(L"two");
    ClickOkAndWaitFor(L"The password doesn't match, please enter it again.");
    EXPECT_EQ(std::vector<std::wstring>(), TextThatCannotBeRead(form.Handle(), form.Dpi()));
    EXPECT_EQ(L"", form.ControlText(PasswordWindow::IDC_PASSWORD_EDIT));
    EXPECT_FALSE(OkEnabled());
    EXPECT_FALSE(form.Stages().Confirming());
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_EQ(L"old", state.storedPassword);

    // The mismatch text stays while the new first entry is typed.
    Type(L"Two");
    EXPECT_EQ(L"The password doesn't match, please enter it again.", Prompt());
    ClickOkAndWaitFor(L"Please confirm your password.");
    Type(L"two");
    ClickOkAndWaitForClose();
    EXPECT_TRUE(VerifiesPassword(StoredValue(), L"two"));
    EXPECT_EQ(L"two", state.storedPassword);
}

TEST_F(ChangePasswordWindowTest, EscInTheConfirmationStageDiscardsTheFirstEntry) {
    Open();
    Type(L"abc");
    PostKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return Prompt() == L"Please confirm your password."; }));
    PostKey(VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }));
    EXPECT_EQ(L"old", state.storedPassword);
    EXPECT_EQ(L"", StoredValue());

    // The next opening starts over: "abc" is a first entry again.
    Open();
    EXPECT_EQ(L"Set Password to access this Configuration.", Prompt());
    EXPECT_FALSE(OkEnabled());
    EXPECT_FALSE(form.Stages().Confirming());
    // This time with the keyboard, which starts in the box.
    Type(L"abc");
    testing_support::PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return Prompt() == L"Please confirm your password."; }));
    Type(L"ABC");
    testing_support::PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }));
    EXPECT_EQ(L"abc", state.storedPassword);
    EXPECT_TRUE(VerifiesPassword(StoredValue(), L"abc"));
}

TEST_F(ChangePasswordWindowTest, CancelEnterOnAFocusedCancelAndTheCloseBoxStoreNothing) {
    Open();
    Type(L"abc");
    ClickOkAndWaitFor(L"Please confirm your password.");
    ClickCentre(form.Control(PasswordWindow::IDC_CANCEL_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }));

    // Enter presses the Cancel the program focused, not the default OK.
    Open();
    Type(L"new");
    ASSERT_TRUE(OkEnabled());
    ::SetFocus(form.Control(PasswordWindow::IDC_CANCEL_BUTTON));
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return !form.IsLoaded(); }, 3000));

    Open();
    Type(L"abc");
    ClickOkAndWaitFor(L"Please confirm your password.");
    ::SendMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(form.IsLoaded());
    EXPECT_FALSE(form.Stages().Confirming());
    EXPECT_EQ(L"old", state.storedPassword);
    EXPECT_EQ(L"", StoredValue());
    EXPECT_TRUE(warnings.empty());
}

TEST_F(ChangePasswordWindowTest, AFailedWriteIsReportedAndThePasswordStillHoldsForThisRun) {
    // A non-volatile key cannot be made under a volatile one.
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(key.Root(), (key.Path() + L"\\Volatile").c_str(), 0, nullptr,
                                               REG_OPTION_VOLATILE, KEY_READ, nullptr, &raw, nullptr));
    ::RegCloseKey(raw);
    const std::wstring settings = key.Path() + L"\\Volatile\\Settings";
    ProgramBook failingBook(locker, {key.Root(), key.Path() + L"\\Files", settings});
    failingBook.Begin();
    PasswordWindow failing(state);
    failing.book = &failingBook.book;
    HWND owner = nullptr;
    bool ownerOpen = false;
    std::wstring passwordWhenTold;
    std::vector<std::wstring> shown;
    failing.showWarning = [&](HWND window, const std::wstring& text) {
        owner = window;
        ownerOpen = ::IsWindowVisible(window) != FALSE;
        passwordWhenTold = state.storedPassword;
        shown.push_back(text);
    };

    failing.Show();
    HWND dialog = failing.Handle();
    HWND box = failing.Control(PasswordWindow::IDC_PASSWORD_EDIT);
    ::SetWindowTextW(box, L"NeW");
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(PasswordWindow::IDC_OK_BUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(failing.Control(PasswordWindow::IDC_OK_BUTTON)));
    ::SetWindowTextW(box, L"new");
    ::SendMessageW(failing.Control(PasswordWindow::IDC_OK_BUTTON), BM_CLICK, 0, 0);

    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(dialog, owner);
    EXPECT_TRUE(ownerOpen);
    EXPECT_EQ(L"new", passwordWhenTold);
    EXPECT_EQ(0u, shown[0].find(L"The password could not be saved (")) << shown[0].size();
    EXPECT_NE(std::wstring::npos, shown[0].find(vaultmere::SystemErrorText(ERROR_CHILD_MUST_BE_VOLATILE)));
    EXPECT_NE(std::wstring::npos, shown[0].find(L"It will only be used until the program ends."));
    EXPECT_EQ(L"new", state.storedPassword);
    EXPECT_FALSE(failing.IsLoaded());
    EXPECT_EQ(L"", Registry::GetRegistryValue(key.Root(), settings, Registry::kPasswordValueName).ToText());

    // A key the user may read but not write: the plain reason, and the stored password untouched.
    // In a key of its own, away from the volatile key above.
    testing_support::ScopedTestKey own;
    const std::wstring guarded = own.Path() + L"\\Settings";
    ASSERT_TRUE(Registry::SetRegistryValue(key.Root(), guarded, Registry::kPasswordValueName,
                                           Registry::RegistryValue::FromText(L"old")));
    testing_support::WriteDeniedKey denied(key.Root(), guarded);
    ASSERT_TRUE(denied.Denied());
    ProgramBook refusedBook(locker, {key.Root(), key.Path() + L"\\Files", guarded});
    refusedBook.Begin({}, L"old");
    PasswordWindow refused(state);
    refused.book = &refusedBook.book;
    refused.showWarning = [&](HWND, const std::wstring& text) { shown.push_back(text); };
    refused.Show();
    for (int typed = 0; typed < 2; ++typed) {
        ::SetWindowTextW(refused.Control(PasswordWindow::IDC_PASSWORD_EDIT), L"next");
        ::SendMessageW(refused.Control(PasswordWindow::IDC_OK_BUTTON), BM_CLICK, 0, 0);
    }
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ(L"Only an administrator can change the password. Your new password stays until Vaultmere ends.",
              shown[1]);
    EXPECT_EQ(L"next", state.storedPassword);
    EXPECT_EQ(L"old", Registry::GetRegistryValue(key.Root(), guarded, Registry::kPasswordValueName).ToText());
}

// The dialog as the program builds it writes HKEY_LOCAL_MACHINE.
TEST(ChangePasswordMachineTest, WritesUserPasswordUnderTheProgramsSettingsKey) {
    const Registry::RegistryValue before = Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                                                      Registry::kPasswordValueName);
    AppState state;
    NoLocks locker;
    LocalKeeper keeper(locker);
    GuardBook book(keeper);
    book.Begin();
    ASSERT_TRUE(book.CheckPassword(before.ToText()).accepted);
    PasswordWindow form(state);
    form.book = &book;
    form.showWarning = [](HWND, const std::wstring& text) { ADD_FAILURE() << "warning of " << text.size(); };
    form.Show();
    HWND box = form.Control(PasswordWindow::IDC_PASSWORD_EDIT);
    HWND ok = form.Control(PasswordWindow::IDC_OK_BUTTON);
    ::SetWindowTextW(box, L"HkLm1");
    ::SendMessageW(ok, BM_CLICK, 0, 0);
    ::SetWindowTextW(box, L"hklm1");
    ::SendMessageW(ok, BM_CLICK, 0, 0);
    EXPECT_FALSE(form.IsLoaded());
    EXPECT_EQ(L"hklm1", state.storedPassword);

    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Brackwater\\Addon\\Settings", 0,
                                             KEY_READ | Registry::kRegistryView, &raw));
    wchar_t data[128] = {};
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS,
              ::RegQueryValueExW(raw, L"UserPassword", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    ::RegCloseKey(raw);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_TRUE(VerifiesPassword(data, L"hklm1"));

    if (before.IsNothing()) {
        Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName);
    } else {
        Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName,
                                   before);
    }
}

}  // namespace
