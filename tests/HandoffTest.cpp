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
