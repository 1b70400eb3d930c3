#include <gtest/gtest.h>

#include "app/ResidentWindow.h"
#include "locker/FileLocker.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

// The keeper in this process, with the guard's wait after a wrong password.
class SlowingLink : public GuardLink {
public:
    explicit SlowingLink(GuardLink& keeper) : keeper_(keeper) {}
    std::optional<GuardMessage> Exchange(const GuardMessage& request) override {
        std::optional<GuardMessage> answer = keeper_.Exchange(request);
        if (answer && answer->code == static_cast<std::uint32_t>(GuardRefusal::WrongPassword)) answer->waitMs = 8000;
        return answer;
    }
    std::wstring Problem() const override { return keeper_.Problem(); }

private:
    GuardLink& keeper_;
};

class PromptWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        prompt.showConfiguration = [this] { ++opened; };
        program.Begin({}, L"pw");
        prompt.Show();
        ::SetForegroundWindow(prompt.Handle());
        WaitUntil([&] { return ::GetForegroundWindow() == prompt.Handle(); }, 2000);
    }
    HWND Field() const { return prompt.Control(ResidentWindow::IDC_PASSWORD_EDIT); }
    void Type(const std::wstring& text) {
        ::SetFocus(Field());
        for (wchar_t ch : text) ::SendMessageW(Field(), WM_CHAR, ch, 0);
    }

    AppState state;
    FileLocker locker;
    ScopedTestKey key;
    ProgramBook program{locker, key};
    SlowingLink link{program.keeper};
    GuardBook lists{link};
    InfoWindow messageWindow;
    ResidentWindow prompt{state, lists, messageWindow};
    int opened = 0;
};

TEST_F(PromptWindowTest, FieldIsMaskedAndTakesEightCharacters) {
    EXPECT_EQ(L'*', static_cast<wchar_t>(::SendMessageW(Field(), EM_GETPASSWORDCHAR, 0, 0)));
    Type(L"123456789");
    EXPECT_EQ(L"12345678", prompt.ControlText(ResidentWindow::IDC_PASSWORD_EDIT));
}

TEST_F(PromptWindowTest, EnterContinuesEscCancelsAndRememberFillsTheField) {
    // Enter on a Cancel the program focused cancels: it is not the default Continue.
    Type(L"no");
    ::SetFocus(prompt.Control(ResidentWindow::IDC_CANCEL_BUTTON));
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return !prompt.IsVisible(); }, 3000));
    EXPECT_EQ(0, opened);
    prompt.Show();
    ::SetForegroundWindow(prompt.Handle());
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == prompt.Handle(); }, 2000));
    ::SendMessageW(Field(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));

    Type(L"PW");
    ::SendMessageW(prompt.Control(ResidentWindow::IDC_REMEMBER_CHECK), BM_SETCHECK, BST_CHECKED, 0);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return opened == 1; }, 3000));
    EXPECT_FALSE(prompt.IsVisible());
    EXPECT_TRUE(state.rememberFlag);
    EXPECT_EQ(L"", prompt.ControlText(ResidentWindow::IDC_PASSWORD_EDIT));

    // Shown again: the remembered password fills the field, Enter alone passes.
    prompt.Show();
    ::SetForegroundWindow(prompt.Handle());
    ASSERT_TRUE(WaitUntil([&] { return prompt.ControlText(ResidentWindow::IDC_PASSWORD_EDIT) == L"pw"; }, 3000));
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return opened == 2; }, 3000));

    // Esc hides it and changes nothing.
    prompt.Show();
    ::SetForegroundWindow(prompt.Handle());
    WaitUntil([&] { return ::GetForegroundWindow() == prompt.Handle(); }, 2000);
    PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return !prompt.IsVisible(); }, 3000));
    EXPECT_EQ(2, opened);
    EXPECT_TRUE(state.rememberFlag);
}

TEST_F(PromptWindowTest, OwnWindowsWithTheRequestTitleAreNoRequest) {
    prompt.Hide();
    // This process's own message boxes are captioned "Vaultmere" too.
    HWND own = ::CreateWindowExW(0, L"STATIC", kShowRequestTitle, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(nullptr, own);
    EXPECT_FALSE(IsShowRequestPending());
    prompt.OnShowRequestTimer();
    EXPECT_FALSE(prompt.IsVisible());
    ::DestroyWindow(own);
}

TEST_F(PromptWindowTest, WrongPasswordEmptiesTheFieldStaysAndSaysHowLongToWait) {
    Type(L"nope");
    ClickCentre(prompt.Control(ResidentWindow::IDC_CONTINUE_BUTTON));
    ASSERT_TRUE(WaitUntil([&] { return prompt.ControlText(ResidentWindow::IDC_PASSWORD_EDIT).empty(); }, 3000));
    EXPECT_TRUE(prompt.IsVisible());
    EXPECT_EQ(0, opened);
    const std::wstring notice = prompt.ControlText(ResidentWindow::IDC_NOTICE_LABEL);
    EXPECT_TRUE(notice == L"Wrong password. Try again in 8 s." || notice == L"Wrong password. Try again in 7 s.")
        << notice;
    EXPECT_TRUE(::IsWindowVisible(prompt.Control(ResidentWindow::IDC_NOTICE_LABEL)));
    // The wait counts down; the words stay until the next try.
    ASSERT_TRUE(WaitUntil([&] { return prompt.ControlText(ResidentWindow::IDC_NOTICE_LABEL) != notice; }, 3000));
    EXPECT_EQ(0u, prompt.ControlText(ResidentWindow::IDC_NOTICE_LABEL).find(L"Wrong password. Try again in "));
}

}  // namespace
}  // namespace vaultmere
