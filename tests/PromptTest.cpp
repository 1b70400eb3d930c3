#include <gtest/gtest.h>

#include "app/frmPassword.h"
#include "locker/FileLocker.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

class PromptWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        prompt.showConfiguration = [this] { ++opened; };
        state.storedPassword = L"pw";
        prompt.Show();
        ::SetForegroundWindow(prompt.Handle());
        WaitUntil([&] { return ::GetForegroundWindow() == prompt.Handle(); }, 2000);
    }
    HWND Field() const { return prompt.Control(frmPassword::IDC_TXTPASSWORD); }
    void Type(const std::wstring& text) {
        ::SetFocus(Field());
        for (wchar_t ch : text) ::SendMessageW(Field(), WM_CHAR, ch, 0);
    }

    AppState state;
    FileLocker locker;
    ItemLists lists{locker};
    frmmsg messageWindow;
    frmPassword prompt{state, lists, messageWindow};
    int opened = 0;
};

TEST_F(PromptWindowTest, FieldIsMaskedTakesEightCharactersAndEveryTextFitsAt96And144Dpi) {
    EXPECT_EQ(L'*', static_cast<wchar_t>(::SendMessageW(Field(), EM_GETPASSWORDCHAR, 0, 0)));
    Type(L"123456789");
    EXPECT_EQ(L"12345678", prompt.ControlText(frmPassword::IDC_TXTPASSWORD));
    const LONG style = ::GetWindowLongW(prompt.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_SYSMENU);

    EXPECT_EQ(std::vector<std::wstring>(), TextThatDoesNotFit(prompt.Handle(), prompt.Dpi()));
    SendDpiChange(prompt.Handle(), 144);
    EXPECT_EQ(144, prompt.Dpi());
    EXPECT_EQ(std::vector<std::wstring>(), TextThatDoesNotFit(prompt.Handle(), 144));
}

TEST_F(PromptWindowTest, EnterContinuesEscCancelsAndRememberFillsTheField) {
    // Enter on a Cancel the program focused cancels: it is not the default Continue.
    Type(L"no");
    ::SetFocus(prompt.Control(frmPassword::IDC_COMMAND1));
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return !prompt.IsVisible(); }, 3000));
    EXPECT_EQ(0, opened);
    prompt.Show();
    ::SetForegroundWindow(prompt.Handle());
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == prompt.Handle(); }, 2000));
    ::SendMessageW(Field(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));

    Type(L"PW");
    ::SendMessageW(prompt.Control(frmPassword::IDC_CHECK1), BM_SETCHECK, BST_CHECKED, 0);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return opened == 1; }, 3000));
    EXPECT_FALSE(prompt.IsVisible());
    EXPECT_TRUE(state.rememberFlag);
    EXPECT_EQ(L"", prompt.ControlText(frmPassword::IDC_TXTPASSWORD));

    // Shown again: the remembered password fills the field, Enter alone passes.
    prompt.Show();
    ::SetForegroundWindow(prompt.Handle());
    ASSERT_TRUE(WaitUntil([&] { return prompt.ControlText(frmPassword::IDC_TXTPASSWORD) == L"pw"; }, 3000));
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
    prompt.Timer1_Timer();
    EXPECT_FALSE(prompt.IsVisible());
    ::DestroyWindow(own);
}

TEST_F(PromptWindowTest, WrongPasswordEmptiesTheFieldAndStays) {
    Type(L"nope");
    ClickCentre(prompt.Control(frmPassword::IDC_CMDOK));
    ASSERT_TRUE(WaitUntil([&] { return prompt.ControlText(frmPassword::IDC_TXTPASSWORD).empty(); }, 3000));
    EXPECT_TRUE(prompt.IsVisible());
    EXPECT_EQ(0, opened);
}

}  // namespace
}  // namespace vaultmere
