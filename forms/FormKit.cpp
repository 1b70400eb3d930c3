#include "forms/FormKit.h"

#include <commctrl.h>

#include <utility>
#include <vector>

namespace ui {

const wchar_t kPanelClass[] = L"VaultmerePanel";

namespace {

const wchar_t kFormClass[] = L"VaultmereForm";

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return ::SendMessageW(::GetParent(hwnd), message, wParam, lParam);
    case WM_ERASEBKGND: {
        RECT area;
        ::GetClientRect(hwnd, &area);
        const auto colour = static_cast<COLORREF>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        vaultmere::UniqueBrush brush(::CreateSolidBrush(colour));
        ::FillRect(reinterpret_cast<HDC>(wParam), &area, brush.Get());
        return 1;
    }
    case WM_LBUTTONDOWN:
        // A click on a panel counts as a click on the form's surface.
        return ::SendMessageW(::GetParent(hwnd), message, wParam, lParam);
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void RegisterClasses(HINSTANCE instance, WNDPROC formProc) {
    // The classes are registered with the first form of the process.
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExW(instance, kFormClass, &existing)) return;

    INITCOMMONCONTROLSEX common{};
    common.dwSize = sizeof common;
    common.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&common);

    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.style = CS_DBLCLKS;
    form.lpfnWndProc = formProc;
    form.hInstance = instance;
    form.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    form.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    ::RegisterClassExW(&form);

    WNDCLASSEXW panel{};
    panel.cbSize = sizeof panel;
    panel.lpfnWndProc = &PanelProc;
    panel.hInstance = instance;
    panel.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    panel.lpszClassName = kPanelClass;
    ::RegisterClassExW(&panel);
}

}  // namespace

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int TwipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }

void SetPanelColour(HWND panel, COLORREF colour) {
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, static_cast<LONG_PTR>(colour));
    ::InvalidateRect(panel, nullptr, TRUE);
}

namespace {

struct DescendantSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchDescendant(HWND child, LPARAM data) {
    auto* search = reinterpret_cast<DescendantSearch*>(data);
    if (::GetDlgCtrlID(child) != search->id) return TRUE;
    search->found = child;
    return FALSE;
}

}  // namespace

HWND FindDescendant(HWND window, int id) {
    DescendantSearch search = {id, nullptr};
    if (window) ::EnumChildWindows(window, &MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Form::~Form() {
    if (hwnd_) {
        // The derived part is gone: let the window die without calling back.
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        destroying_ = true;
        ::DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

HWND Form::Control(int id) const { return hwnd_ ? ::GetDlgItem(hwnd_, id) : nullptr; }

void Form::Show(int showCommand) {
    if (!hwnd_) Load();
    if (hwnd_) ::ShowWindow(hwnd_, showCommand);
}

void Form::Hide() {
    if (hwnd_) ::ShowWindow(hwnd_, SW_HIDE);
}

bool Form::IsVisible() const { return hwnd_ && ::IsWindowVisible(hwnd_); }

void Form::Unload() {
    if (!hwnd_) return;
    destroying_ = true;
    ::DestroyWindow(hwnd_);
    destroying_ = false;
}

std::wstring Form::Caption() const {
    if (!hwnd_) return std::wstring();
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd_)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd_, &text[0], static_cast<int>(text.size()))));
    return text;
}

void Form::SetCaption(const std::wstring& text) {
    if (hwnd_) ::SetWindowTextW(hwnd_, text.c_str());
}

std::wstring Form::ControlText(int id) const {
    HWND control = Control(id);
    if (!control) return std::wstring();
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, &text[0], static_cast<int>(text.size()))));
    return text;
}

void Form::SetControlText(int id, const std::wstring& text) {
    if (HWND control = Control(id)) ::SetWindowTextW(control, text.c_str());
}

bool Form::Create(const FormDesign& form, const ControlDesign* controls, std::size_t count) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterClasses(instance, &Form::WindowProc);
    dpi_ = ScreenDpi();

    RECT frame = {0, 0, TwipsToPixels(form.clientWidth, dpi_), TwipsToPixels(form.clientHeight, dpi_)};
    const DWORD style = form.style | WS_CLIPCHILDREN;
    const DWORD exStyle = form.exStyle | WS_EX_CONTROLPARENT;
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    if (form.centred) {
        RECT work;
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        x = work.left + (work.right - work.left - width) / 2;
        y = work.top + (work.bottom - work.top - height) / 2;
    }

    creating_ = true;
    HWND created = ::CreateWindowExW(exStyle, kFormClass, form.caption, style, x, y, width, height, nullptr,
                                     nullptr, instance, this);
    creating_ = false;
    if (!created) return false;

    LOGFONTW face = {};
    face.lfHeight = -::MulDiv(8, dpi_, 72);
    face.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(face.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    font_.Reset(::CreateFontIndirectW(&face));

    // Panels may nest, so parents are looked up among the controls made so far.
    std::vector<std::pair<int, HWND>> made;
    made.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const ControlDesign& design = controls[i];
        HWND parent = created;
        for (const auto& entry : made) {
            if (design.parentId != 0 && entry.first == design.parentId) parent = entry.second;
        }
        made.emplace_back(design.id, CreateControl(design, parent));
    }
    return true;
}

HWND Form::CreateControl(const ControlDesign& design, HWND parent) {
    DWORD style = WS_CHILD | WS_VISIBLE | design.style;
    DWORD exStyle = design.exStyle;
    if (lstrcmpW(design.className, kPanelClass) == 0) {
        style |= WS_CLIPSIBLINGS;
        exStyle |= WS_EX_CONTROLPARENT;
    }
    HWND control = ::CreateWindowExW(exStyle, design.className, design.text ? design.text : L"", style,
                                     TwipsToPixels(design.left, dpi_), TwipsToPixels(design.top, dpi_),
                                     TwipsToPixels(design.width, dpi_), TwipsToPixels(design.height, dpi_), parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    if (control) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
        if (lstrcmpW(design.className, kPanelClass) == 0) SetPanelColour(control, ::GetSysColor(COLOR_BTNFACE));
    }
    return control;
}

void Form::OnCommand(int, int, HWND) {}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case DM_GETDEFID:
        return defaultButtonId_ ? MAKELRESULT(defaultButtonId_, DC_HASDEFID) : 0;
    case WM_ACTIVATE:
        // Keep the focus where the user left it, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
        } else {
            HWND target = lastFocus_ && ::IsWindow(lastFocus_) && ::IsChild(hwnd_, lastFocus_)
                              ? lastFocus_
                              : ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
            if (target) ::SetFocus(target);
            return 0;
        }
        break;
    case WM_CLOSE:
        OnClose();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        // Any program can send this message to any window, with a pointer of
        // its choosing. Only the first one of a window, sent by this thread's
        // own CreateWindowExW, carries a form.
        if (form || ::InSendMessageEx(nullptr) != ISMEX_NOSEND) return FALSE;
        auto* creating = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (!creating || !creating->creating_ || creating->hwnd_) return FALSE;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creating));
        creating->hwnd_ = hwnd;
        form = creating;
    }
    if (!form) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // Sent or posted by another program, the window lives on: keep it.
        if ((!form->destroying_ && !form->creating_) || ::InSendMessageEx(nullptr) != ISMEX_NOSEND) return 0;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        form->hwnd_ = nullptr;
        form->lastFocus_ = nullptr;
        form->OnUnloaded();
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return form->HandleMessage(message, wParam, lParam);
}

namespace {

bool IsFormWindow(HWND hwnd) {
    wchar_t name[32] = {};
    return hwnd && ::GetClassNameW(hwnd, name, 32) > 0 && lstrcmpW(name, kFormClass) == 0;
}

// Gives every form dialog-style keys (Tab, Enter, Esc), then dispatches.
void Dispatch(MSG& message) {
    HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    if (IsFormWindow(root) && ::IsDialogMessageW(root, &message)) return;
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
