#include <gtest/gtest.h>

#include <vector>

#include "app/AppState.h"
#include "app/frmPassword.h"
#include "forms/config/Form1.h"
#include "store/Module1.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using vaultmere::Form1;
using vaultmere::frmPassword;

namespace {

// Two and more real processes of the program: the resident copy, second
// starts, the relaunch on close. Uses the prefix's HKEY_LOCAL_MACHINE keys.
class HandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndStrayCopies();
        Module1::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Module1::kFilesKeyPath);
        ASSERT_TRUE(Module1::SetRegistryValue(HKEY_LOCAL_MACHINE, Module1::kSettingsKeyPath,
                                              Module1::kPasswordValueName, Module1::RegistryValue::FromText(L"secret")));
        ASSERT_TRUE(WriteTextFile(folder / L"doc.txt", "d"));
        ASSERT_TRUE(Module1::SetRegistryValue(HKEY_LOCAL_MACHINE, Module1::kFilesKeyPath, L"File0",
                                              Module1::RegistryValue::FromText(folder.Path() + L"\\*.*")));
    }
    void TearDown() override {
        EndStrayCopies();
        Module1::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Module1::kFilesKeyPath);
        Module1::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Module1::kSettingsKeyPath, Module1::kPasswordValueName);
    }
    static void EndStrayCopies() {
        for (const wchar_t* title : {vaultmere::kResidentMarkerTitle, vaultmere::kShowRequestTitle, L"ooh! "}) {
            while (HWND window = ::FindWindowW(nullptr, title)) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(window, &pid);
                vaultmere::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
                if (!process) break;
                ::TerminateProcess(process.Get(), 1);
                ::WaitForSingleObject(process.Get(), 5000);
            }
        }
    }
    HANDLE Start() {
        processes.push_back(StartProcess(BinaryFolder() + L"\\brwaddon.exe", L""));
        return processes.back().Get();
    }
    static HWND Resident() { return ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle); }
    static HWND Configuration() { return ::FindWindowW(nullptr, L"Vaultmere Configuration"); }
    static HWND PromptField() { return ::GetDlgItem(Resident(), frmPassword::IDC_TXTPASSWORD); }
    static HWND LockedList(HWND configuration) {
        return ::GetDlgItem(::GetDlgItem(configuration, Form1::IDC_FRAME3), Form1::IDC_LIST1);
    }
    static std::vector<std::wstring> ListEntries(HWND list) {
        std::vector<std::wstring> entries;
        const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t text[1024] = {};
            ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    // A second start, and the resident copy's prompt shown for it.
    void RequestPrompt() {
        HANDLE second = Start();
        ASSERT_TRUE(WaitUntil([] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr; }, 5000));
        ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 5000));
        EXPECT_EQ(0u, WaitForExit(second, 5000));
    }
    void EnterPassword(const std::wstring& password) {
        ::SendMessageW(PromptField(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()));
        ClickCentre(::GetDlgItem(Resident(), frmPassword::IDC_CMDOK));
    }

    TempFolder folder{L"handoff"};
    std::vector<vaultmere::UniqueHandle> processes;
};

TEST_F(HandoffTest, SecondStartShowsNoticeAndTheResidentShowsItsPrompt) {
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    EXPECT_FALSE(::IsWindowVisible(Resident()));

    HANDLE second = Start();
    ASSERT_TRUE(WaitUntil([] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr; }, 5000));
    HWND notice = ::FindWindowW(nullptr, vaultmere::kShowRequestTitle);
    EXPECT_EQ(L"Loading setup...", WindowText(::GetDlgItem(notice, 100)));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(notice, 101)));
    ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 5000));
    EXPECT_EQ(0u, WaitForExit(second, 5000));
    EXPECT_EQ(nullptr, ::FindWindowW(nullptr, vaultmere::kShowRequestTitle));

    // A wrong password empties the field and keeps the prompt.
    EnterPassword(L"wrong");
    ASSERT_TRUE(WaitUntil([] { return WindowText(PromptField()).empty(); }, 3000));
    EXPECT_TRUE(::IsWindowVisible(Resident()));
    EXPECT_EQ(nullptr, Configuration());

    // The right one, in any case, opens the configuration with the stored item.
    EnterPassword(L"SeCrEt");
    ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return !::IsWindowVisible(Resident()); }, 3000));
    EXPECT_EQ(std::vector<std::wstring>{folder.Path() + L"\\*.*"}, ListEntries(LockedList(Configuration())));
}

TEST_F(HandoffTest, ClosingTheWindowBringsThePromptBackWithListsAndLocksKept) {
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    RequestPrompt();
    EnterPassword(L"secret");
    ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));

    ::PostMessageW(Configuration(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([] { return Configuration() == nullptr; }, 5000));
    // The relaunched copy asks the resident one for the prompt.
    ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 6000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folder / L"doc.txt"));

    EnterPassword(L"secret");
    ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));
    EXPECT_EQ(std::vector<std::wstring>{folder.Path() + L"\\*.*"}, ListEntries(LockedList(Configuration())));
}

TEST_F(HandoffTest, EndingTheSessionEndsTheProcessWithoutARelaunch) {
    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    RequestPrompt();
    EnterPassword(L"secret");
    ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));

    HWND configuration = Configuration();
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(configuration, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer);
    EXPECT_EQ(TRUE, static_cast<BOOL>(answer));
    ::SendMessageTimeoutW(configuration, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 3000, &answer);
    EXPECT_EQ(0u, WaitForExit(resident, 5000));
    // No new copy appears.
    EXPECT_FALSE(WaitUntil([] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr ||
                                       Resident() != nullptr; }, 2500));
}

}  // namespace
