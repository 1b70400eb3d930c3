// The window base: the form and panel window classes, the window procedure
// that finds a form and forwards to it, building a form from its table.
#include "forms/FormKit.h"

#include <commctrl.h>
#include <imm.h>

#include <string>

#include "common/EntryPoint.h"
#include "forms/FormKitInternal.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace ui {

const wchar_t kPanelClass[] = L"VaultmerePanel";
const wchar_t kFormClass[] = L"VaultmereForm";

namespace {

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
    case WM_CONTEXTMENU:
        return ::SendMessageW(::GetParent(hwnd), message, wParam, lParam);
    case WM_ERASEBKGND: {
        RECT area;
        ::GetClientRect(hwnd, &area);
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetDCBrushColor(dc, TextColoursOn(hwnd).surface);
        ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
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
                                                   ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                   0));
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

void MakePasswordField(HWND edit, std::size_t maxLength) {
    ::SendMessageW(edit, EM_LIMITTEXT, maxLength, 0);
    ::SendMessageW(edit, EM_SETPASSWORDCHAR, L'*', 0);
    ::ImmAssociateContext(edit, nullptr);
}

void ShowProgramIcon(HWND label) {
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgramIconId));
    ::SendMessageW(label, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}

HWND FindDescendant(HWND window, int id) {
    DescendantSearch search = {id, nullptr};
    if (window) ::EnumChildWindows(window, &MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace detail {

std::wstring WindowTextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

bool IsClass(HWND window, const wchar_t* name) {
    wchar_t found[32] = {};
    return ::GetClassNameW(window, found, 32) > 0 && lstrcmpiW(found, name) == 0;
}

bool IsLink(HWND control) {
    return IsClass(control, L"BUTTON") && (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == kLinkStyle;
}

}  // namespace detail

using detail::DrawLink;
using detail::IsClass;
using detail::IsLink;
using detail::WindowTextOf;

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

const ControlDesign* Form::DesignOf(HWND control) const {
    for (const Placed& placed : controls_) {
        if (control && placed.hwnd == control) return &placed.design;
    }
    return nullptr;
}

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

std::wstring Form::Caption() const { return hwnd_ ? WindowTextOf(hwnd_) : std::wstring(); }

void Form::SetCaption(const std::wstring& text) {
    if (hwnd_) ::SetWindowTextW(hwnd_, text.c_str());
}

std::wstring Form::ControlText(int id) const {
    HWND control = Control(id);
    return control ? WindowTextOf(control) : std::wstring();
}

void Form::SetControlText(int id, const std::wstring& text) {
    HWND control = Control(id);
    if (!control) return;
    ::SetWindowTextW(control, text.c_str());
    if (IsClass(control, L"STATIC") || IsClass(control, L"BUTTON")) LayOut();
}

bool Form::Create(const FormDesign& form, const ControlDesign* controls, std::size_t count) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterClasses(instance, &Form::WindowProc);
    design_ = form;
    controls_.clear();

    // First placed for the screen's DPI, so that it opens on the right
    // monitor; laid out for that monitor's DPI once it exists.
    const int screenDpi = ScreenDpi();
    RECT frame = {0, 0, TwipsToPixels(form.clientWidth, screenDpi), TwipsToPixels(form.clientHeight, screenDpi)};
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
    HWND created = ::CreateWindowExW(exStyle, kFormClass, form.caption, style, x, y, width, height, nullptr, nullptr,
                                     instance, this);
    creating_ = false;
    if (!created) return false;
    dpi_ = WindowDpi(created);
    MakeFont();

    // Panels may nest, so parents are looked up among the controls made so far.
    controls_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const ControlDesign& design = controls[i];
        int parent = -1;
        for (int j = 0; j < static_cast<int>(controls_.size()); ++j) {
            if (design.parentId != 0 && controls_[static_cast<size_t>(j)].design.id == design.parentId) parent = j;
        }
        HWND parentWindow = parent < 0 ? created : controls_[static_cast<size_t>(parent)].hwnd;
        controls_.push_back(Placed{design, CreateControl(design, parentWindow), parent});
    }
    OnFontChanged();
    Arrange(form.centred);
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
        if (lstrcmpW(design.className, kPanelClass) == 0) SetPanelSystemColour(control, COLOR_BTNFACE);
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
    case WM_DPICHANGED:
        ChangeDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_BUTTON || !IsLink(item->hwndItem)) break;
        DrawLink(*item);
        return TRUE;
    }
    case WM_SYSCOLORCHANGE:
        ChangeColours();
        return 0;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETHIGHCONTRAST) ChangeColours();
        break;
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
    // A message whose handler failed is taken as handled; the window and the
    // lists it shows stay as the handler left them, which each keeps sound.
    return vaultmere::RunGuarded(L"window procedure", vaultmere::AfterEscape::GoOn, LRESULT{0},
                                 [&] { return form->HandleMessage(message, wParam, lParam); });
}

}  // namespace ui
