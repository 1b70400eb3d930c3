#include "forms/info/InfoWindow.h"
#include "tests/support/ProgramTest.h"

using namespace testing_support;

namespace {

using HandoffTest = ProgramTest;

TEST_F(HandoffTest, SecondStartShowsNoticeAndTheResidentShowsItsPrompt) {
    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    EXPECT_FALSE(::IsWindowVisible(Resident()));
    ASSERT_TRUE(WaitUntil([&] { return OpenFromOutside(folder / L"doc.txt") == ERROR_SHARING_VIOLATION; }));

    // What any other program can send or post does not end the resident copy
    // nor part its window from the form behind it.
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(Resident(), &process);
    ::PostMessageW(Resident(), WM_QUIT, 0, 0);
    ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
    CREATESTRUCTW forged{};
    forged.lpCreateParams = reinterpret_cast<void*>(static_cast<INT_PTR>(0x1234));
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(Resident(), WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&forged), SMTO_ABORTIFHUNG, 3000,
                          &ignored);
    ::SendMessageTimeoutW(Resident(), WM_NCDESTROY, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored);
    ::PostMessageW(Resident(), WM_NCDESTROY, 0, 0);
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(resident, 1000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folder / L"doc.txt"));

    {
        // Another program's windows titled "Vaultmere" ask for nothing: one of
        // another class (a folder window, say), and even one of the program's
        // own class in a process that does not run its program file.
        vaultmere::UniqueWindow folderWindow(::CreateWindowExW(0, L"STATIC", vaultmere::kShowRequestTitle,
                                                               WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                                               nullptr, nullptr));
        vaultmere::InfoWindow sameClass;
        sameClass.SetCaptionText(vaultmere::kShowRequestTitle);
        sameClass.Show();
        ASSERT_TRUE(folderWindow);
        ASSERT_NE(nullptr, ::FindWindowW(ui::kFormClass, vaultmere::kShowRequestTitle));
        EXPECT_FALSE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 2500));
        sameClass.Unload();
    }

    HANDLE second = Start();
    ASSERT_TRUE(WaitUntil([] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr; }, 5000));
    HWND notice = ::FindWindowW(nullptr, vaultmere::kShowRequestTitle);
    // The notice is filled in just after it takes the title.
    EXPECT_TRUE(WaitUntil([&] { return WindowText(::GetDlgItem(notice, 100)) == L"Loading setup..."; }, 2000));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(notice, 101)));
    ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 5000));
    EXPECT_EQ(0u, WaitForExit(second, 5000));
    EXPECT_EQ(nullptr, ::FindWindowW(nullptr, vaultmere::kShowRequestTitle));

    // Buried under another window, the prompt comes to the front again at
    // the next start.
    vaultmere::UniqueWindow cover(::CreateWindowExW(0, L"STATIC", L"cover", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0,
                                                    1280, 1024, nullptr, nullptr, nullptr, nullptr));
    ::SetForegroundWindow(cover.Get());
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == cover.Get(); }, 3000));
    HANDLE third = Start();
    EXPECT_TRUE(WaitUntil([] { return ::GetForegroundWindow() == Resident(); }, 5000));
    EXPECT_EQ(0u, WaitForExit(third, 5000));
    cover.Reset();

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

TEST_F(HandoffTest, TwoCopiesStartedTogetherLeaveOneResidentThatAnswersLaterStarts) {
    // Both made ready before either runs, then let go at once.
    PROCESS_INFORMATION copies[2]{};
    vaultmere::UniqueHandle threads[2];
    for (int i = 0; i < 2; ++i) {
        PROCESS_INFORMATION& copy = copies[i];
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + BinaryFolder() + L"\\brwaddon.exe\"";
        ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                                     &startup, &copy));
        processes.emplace_back(copy.hProcess);
        threads[i].Reset(copy.hThread);
    }
    for (auto& thread : threads) ::ResumeThread(thread.Get());
    // One ends as a second start does, and its request is answered.
    const HANDLE both[2] = {copies[0].hProcess, copies[1].hProcess};
    const DWORD ended = ::WaitForMultipleObjects(2, both, FALSE, 20000);
    ASSERT_LT(ended, WAIT_OBJECT_0 + 2);
    EXPECT_EQ(0u, WaitForExit(both[ended - WAIT_OBJECT_0], 0));
    const HANDLE survivor = both[1 - (ended - WAIT_OBJECT_0)];
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(survivor, 500));
    ASSERT_NE(nullptr, Resident());
    DWORD owner = 0;
    ::GetWindowThreadProcessId(Resident(), &owner);
    EXPECT_EQ(::GetProcessId(survivor), owner);
    EXPECT_EQ(nullptr, ::FindWindowExW(nullptr, Resident(), ui::kFormClass, vaultmere::kResidentMarkerTitle));
    EXPECT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 5000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folder / L"doc.txt"));

    ASSERT_TRUE(ClickUntil(::GetDlgItem(Resident(), ResidentWindow::IDC_CANCEL_BUTTON),
                           [] { return !::IsWindowVisible(Resident()); }));
    RequestPrompt();
    EXPECT_TRUE(::IsWindowVisible(Resident()));
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
    EXPECT_FALSE(WaitUntil(
        [] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr || Resident() != nullptr; }, 2500));
}

}  // namespace
