#include <gtest/gtest.h>

#include <stdexcept>

#include "forms/info/InfoWindow.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

class InfoWindowTest : public ::testing::Test {
protected:
    HWND Ok() const { return window.Control(InfoWindow::IDC_OK_BUTTON); }
    HWND Label() const { return window.Control(InfoWindow::IDC_MESSAGE_LABEL); }
    void Settle() {
        WaitUntil([] { return false; }, 250);
    }
    InfoWindow window;
};

TEST_F(InfoWindowTest, OkClosesAndEachUseStartsFromTheDesign) {
    window.SetCaptionText(L"Vaultmere");
    window.SetMessage(L"Loading setup...");
    window.SetOkVisible(false);
    window.Show();
    EXPECT_EQ(L"Vaultmere", window.Caption());
    EXPECT_FALSE(::IsWindowVisible(Ok()));
    window.Unload();

    window.SetMessage(L"second");
    window.Show();
    EXPECT_EQ(L"Vaultmere Information", window.Caption());
    EXPECT_TRUE(::IsWindowVisible(Ok()));
    ClickCentre(Ok());
    EXPECT_TRUE(WaitUntil([&] { return !window.IsLoaded(); }, 3000));
}

TEST_F(InfoWindowTest, CarriageReturnsBreakLinesAndTheWindowGrowsToItsTextWithinTheScreen) {
    window.SetMessage(L"one\rtwo\r\rthree");
    EXPECT_EQ(L"one\rtwo\r\rthree", window.Message());
    EXPECT_EQ(L"one\r\ntwo\r\n\r\nthree", WindowText(Label()));
    EXPECT_EQ(L"a\r\nb", WithLineBreaks(L"a\r\nb"));
    // A longer message gets the room it needs, with OK moved below it.
    std::wstring lines;
    for (int i = 1; i <= 14; ++i) lines += L"Line " + std::to_wstring(i) + L" of a message that runs long.\r";
    window.SetMessage(lines);
    window.Show();
    EXPECT_EQ(std::vector<std::wstring>(), TextThatCannotBeRead(window.Handle(), window.Dpi()));
    RECT label, ok;
    ::GetWindowRect(Label(), &label);
    ::GetWindowRect(Ok(), &ok);
    EXPECT_GE(ok.top, label.bottom);

    // Nonsense stays within the screen.
    window.SetMessage(std::wstring(5000, L'x'));
    RECT frame, screen;
    ::GetWindowRect(window.Handle(), &frame);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    EXPECT_LE(frame.right - frame.left, screen.right - screen.left);
    EXPECT_LE(frame.bottom - frame.top, screen.bottom - screen.top);
}

TEST_F(InfoWindowTest, SurfaceClickClosesButLabelClickAndEscDoNot) {
    window.SetMessage(L"text");
    window.Show();
    ::SetForegroundWindow(window.Handle());
    ClickCentre(Label());
    Settle();
    EXPECT_TRUE(window.IsLoaded());

    ::SetFocus(Ok());
    PressKey(VK_ESCAPE);
    Settle();
    EXPECT_TRUE(window.IsLoaded());

    // A bare spot: the bottom left corner.
    RECT client;
    ::GetClientRect(window.Handle(), &client);
    const POINT corner = {4, client.bottom - 4};
    ASSERT_EQ(window.Handle(), ::ChildWindowFromPoint(window.Handle(), corner));
    ClickAt(window.Handle(), corner);
    EXPECT_TRUE(WaitUntil([&] { return !window.IsLoaded(); }, 3000));
}

TEST_F(InfoWindowTest, EnterDoesNothingWhileOkIsHiddenButTheCloseBoxCloses) {
    window.SetMessage(L"Loading setup...");
    window.SetOkVisible(false);
    window.Show();
    ::SetForegroundWindow(window.Handle());
    PressKey(VK_RETURN);
    Settle();
    EXPECT_TRUE(window.IsLoaded());
    ::SendMessageW(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !window.IsLoaded(); }, 3000));
}

// A handler that throws fails that one message; the window and the process
// go on.
TEST(FormDispatch, AHandlerThatThrowsFailsItsMessageOnly) {
    struct Throwing final : ui::Form {
        void Load() override { Create(ui::FormDesign{L"Throwing", 1000, 1000, WS_CAPTION, 0, true}, nullptr, 0); }
        void OnCommand(int id, int, HWND) override { id == 1 ? throw std::runtime_error("failed") : throw id; }
    } form;
    form.Show();
    for (WPARAM id : {1, 2}) EXPECT_EQ(0, ::SendMessageW(form.Handle(), WM_COMMAND, id, 0));
    EXPECT_TRUE(form.IsVisible());
    form.Unload();
}

}  // namespace
}  // namespace vaultmere
