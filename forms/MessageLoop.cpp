// The one dispatch step of every message loop of the program: dialog keys
// for every form, Enter on the focused button, the context-menu keys and the
// wheel for the control under the pointer.
#include "forms/MessageLoop.h"

#include <windowsx.h>

#include "forms/FormKit.h"
#include "forms/FormKitInternal.h"

namespace ui {

using detail::IsClass;

namespace {

bool IsFormWindow(HWND hwnd) {
    wchar_t name[32] = {};
    return hwnd && ::GetClassNameW(hwnd, name, 32) > 0 && lstrcmpW(name, kFormClass) == 0;
}

bool IsPushButton(HWND window) {
    const LONG type = ::GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    return IsClass(window, L"BUTTON") && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == kLinkStyle);
}

// Enter on a push button or a link presses it, however it got the focus; the
// dialog keys would press the default button instead.
bool PressFocusedButton(HWND root, const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
    HWND focus = ::GetFocus();
    if (!focus || !::IsChild(root, focus) || !IsPushButton(focus) || !::IsWindowEnabled(focus) ||
        !::IsWindowVisible(focus)) {
        return false;
    }
    ::SendMessageW(::GetParent(focus), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(focus), BN_CLICKED),
                   reinterpret_cast<LPARAM>(focus));
    return true;
}

// Shift+F10 and the menu key ask the focused control for its context menu,
// in one place for every system, and their key-ups do not ask again.
bool AskForContextMenu(HWND root, const MSG& message) {
    const bool shift = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool menuKey = message.wParam == VK_APPS && (message.message == WM_KEYDOWN || message.message == WM_KEYUP);
    const bool shiftF10 = message.wParam == VK_F10 && shift &&
                          (message.message == WM_SYSKEYDOWN || message.message == WM_SYSKEYUP ||
                           message.message == WM_KEYDOWN || message.message == WM_KEYUP);
    if (!menuKey && !shiftF10) return false;
    HWND focus = ::GetFocus();
    if (!focus || !::IsChild(root, focus)) return false;
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
        ::SendMessageW(focus, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(focus), static_cast<LPARAM>(-1));
    }
    return true;
}

// The wheel turns the control under the pointer. Windows before 10, and
// Wine, send it to the focused control, which is often another one.
bool TurnWheelUnderPointer(const MSG& message) {
    if (message.message != WM_MOUSEWHEEL && message.message != WM_MOUSEHWHEEL) return false;
    const POINT at = {GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
    HWND pointed = ::WindowFromPoint(at);
    if (!pointed || pointed == message.hwnd || !IsFormWindow(::GetAncestor(pointed, GA_ROOT)) ||
        ::GetWindowThreadProcessId(pointed, nullptr) != ::GetCurrentThreadId()) {
        return false;
    }
    ::SendMessageW(pointed, message.message, message.wParam, message.lParam);
    return true;
}

// Gives every form dialog-style keys (Tab, Enter, Esc), then dispatches.
void Dispatch(MSG& message) {
    if (TurnWheelUnderPointer(message)) return;
    HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    if (IsFormWindow(root) &&
        (PressFocusedButton(root, message) || AskForContextMenu(root, message) || ::IsDialogMessageW(root, &message))) {
        return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

}  // namespace

int RunMessageLoop(const std::function<bool()>& quitAsked) {
    MSG message;
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) return -1;
        if (got == 0) {
            if (quitAsked && quitAsked()) return static_cast<int>(message.wParam);
            continue;
        }
        Dispatch(message);
    }
}

bool PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        Dispatch(message);
    }
    return true;
}

}  // namespace ui
