#include "forms/FormKit.h"

#include <commctrl.h>
#include <imm.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include "common/EntryPoint.h"
#include "common/SystemFunction.h"

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

}  // namespace

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

namespace {

// Functions of newer systems, looked up at run time so that the program
// still starts where they are missing.
template <typename Function>
Function UserFunction(const char* name) {
    return vaultmere::SystemFunction<Function>(::GetModuleHandleW(L"user32.dll"), name);
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

void AdjustFrame(RECT& frame, DWORD style, DWORD exStyle, int dpi) {
    static const auto adjustForDpi = UserFunction<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
}

}  // namespace

int WindowDpi(HWND window) {
    static const auto dpiForWindow = UserFunction<GetDpiForWindowFunction>("GetDpiForWindow");
    const int dpi = dpiForWindow && window ? static_cast<int>(dpiForWindow(window)) : 0;
    return dpi > 0 ? dpi : ScreenDpi();
}

int TwipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }

namespace {

// A panel keeps its colour in its user data: a COLORREF, or a system colour's
// index marked by a bit no COLORREF has.
constexpr LONG_PTR kSystemColourMark = 0x01000000;

}  // namespace

void SetPanelColour(HWND panel, COLORREF colour) {
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, static_cast<LONG_PTR>(colour & 0x00FFFFFF));
    ::InvalidateRect(panel, nullptr, TRUE);
}

void SetPanelSystemColour(HWND panel, int systemColour) {
    ::SetWindowLongPtrW(panel, GWLP_USERDATA, kSystemColourMark | systemColour);
    ::InvalidateRect(panel, nullptr, TRUE);
}

bool HighContrast() {
    HIGHCONTRASTW scheme{};
    scheme.cbSize = sizeof scheme;
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof scheme, &scheme, 0) &&
           (scheme.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

TextColours TextColoursOn(HWND parent) {
    wchar_t name[32] = {};
    int surface = COLOR_BTNFACE;
    if (::GetClassNameW(parent, name, 32) > 0 && lstrcmpW(name, kPanelClass) == 0) {
        const LONG_PTR kept = ::GetWindowLongPtrW(parent, GWLP_USERDATA);
        if ((kept & kSystemColourMark) == 0) {
            // A fixed colour: text in the colour of the button faces' text,
            // which the fixed colours of the windows are chosen to carry.
            return TextColours{::GetSysColor(COLOR_BTNTEXT), static_cast<COLORREF>(kept)};
        }
        surface = static_cast<int>(kept & 0xFF);
    }
    const int text = surface == COLOR_WINDOW ? COLOR_WINDOWTEXT : COLOR_BTNTEXT;
    return TextColours{::GetSysColor(text), ::GetSysColor(surface)};
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

namespace {

// One control while a form is laid out. Places are relative to the parent.
struct Box {
    HWND hwnd;
    int parent;     // index of the panel holding it, -1 for the form
    RECT design;    // the design in pixels: the least size and the place it starts from
    int left, top;  // where it goes
    int width, height;
    bool fill;       // covers its whole panel (a frame's border): stretched with it
    bool textSized;  // takes exactly the size of its text
};

std::wstring WindowTextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

// The room text takes in the control's own font, wrapped at width when the
// format says so.
RECT TextRoom(HWND control, const std::wstring& text, UINT format, int width) {
    RECT room = {0, 0, std::max(width, 1), 0};
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc) return room;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = ::SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &room, format | DT_CALCRECT | DT_EXPANDTABS);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return room;
}

SIZE RoomOf(const RECT& room) { return SIZE{room.right - room.left, room.bottom - room.top}; }

// Wrapped text: as wide as the control unless one word is wider (the system
// would break that word, or cut it off).
SIZE WrappedRoom(HWND control, const std::wstring& text, UINT prefix, int width) {
    const RECT natural = TextRoom(control, text, prefix, width);
    if (natural.right <= width) return RoomOf(natural);
    int widestWord = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find_first_of(L" \t\r\n", start), text.size());
        if (end > start) {
            const RECT word = TextRoom(control, text.substr(start, end - start), DT_SINGLELINE | prefix, width);
            widestWord = std::max<int>(widestWord, word.right);
        }
        start = end + 1;
    }
    // A pixel to spare: a word exactly as wide as the line may be wrapped.
    const int wrapAt = std::max(width, widestWord + 1);
    const RECT wrapped = TextRoom(control, text, DT_WORDBREAK | prefix, wrapAt);
    return SIZE{std::max<LONG>(wrapAt, wrapped.right), wrapped.bottom};
}

bool IsClass(HWND window, const wchar_t* name) {
    wchar_t found[32] = {};
    return ::GetClassNameW(window, found, 32) > 0 && lstrcmpiW(found, name) == 0;
}

bool IsLink(HWND control) {
    return IsClass(control, L"BUTTON") && (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == kLinkStyle;
}

bool IsTextSizedLabel(HWND control) {
    return (IsClass(control, L"STATIC") && (::GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_LEFTNOWORDWRAP) ||
           IsLink(control);
}

SIZE TextSize(HWND control, int width, int height, int dpi);

// The size a control needs for its text, at least its design size. No text
// grows a control beyond two thirds of its monitor's work area: text longer
// than that is no message for a person and stays cut off.
SIZE NeededSize(HWND control, int width, int height, int dpi) {
    SIZE size = TextSize(control, width, height, dpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromWindow(control, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const LONG most = (monitor.rcWork.right - monitor.rcWork.left) * 2 / 3;
        const LONG highest = (monitor.rcWork.bottom - monitor.rcWork.top) * 2 / 3;
        size.cx = std::max<LONG>(width, std::min(size.cx, most));
        size.cy = std::max<LONG>(height, std::min(size.cy, highest));
    }
    return size;
}

SIZE TextSize(HWND control, int width, int height, int dpi) {
    SIZE size = {width, height};
    const std::wstring text = WindowTextOf(control);
    if (text.empty()) return size;
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    if (IsClass(control, L"STATIC")) {
        const UINT prefix = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        switch (style & SS_TYPEMASK) {
        case SS_LEFTNOWORDWRAP: {
            const RECT room = TextRoom(control, text, prefix, width);
            return SIZE{room.right, room.bottom};
        }
        case SS_LEFT:
        case SS_CENTER:
        case SS_RIGHT:
        case SS_SIMPLE: {
            const SIZE room = (style & SS_TYPEMASK) == SS_SIMPLE
                                  ? RoomOf(TextRoom(control, text, DT_SINGLELINE | prefix, width))
                                  : WrappedRoom(control, text, prefix, width);
            size.cx = std::max(size.cx, room.cx);
            size.cy = std::max(size.cy, room.cy);
            return size;
        }
        default:
            return size;
        }
    }
    if (!IsClass(control, L"BUTTON")) return size;
    switch (style & BS_TYPEMASK) {
    case kLinkStyle: {
        const RECT room = TextRoom(control, text, DT_SINGLELINE | DT_NOPREFIX, width);
        return SIZE{room.right, room.bottom};
    }
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON: {
        // Inside the edge and the focus rectangle, with some air.
        const int padX = ::MulDiv(6, dpi, 96), padY = ::MulDiv(4, dpi, 96);
        int imageWidth = 0, imageHeight = 0;
        BUTTON_IMAGELIST images{};
        if (::SendMessageW(control, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images)) && images.himl) {
            ::ImageList_GetIconSize(images.himl, &imageWidth, &imageHeight);
            if (images.uAlign == BUTTON_IMAGELIST_ALIGN_TOP || images.uAlign == BUTTON_IMAGELIST_ALIGN_BOTTOM) {
                imageWidth = 0;
                imageHeight += ::MulDiv(2, dpi, 96);
            } else {
                imageHeight = 0;
                imageWidth += ::MulDiv(2, dpi, 96);
            }
        }
        const int textWidth = width - 2 * padX - imageWidth;
        const SIZE room = (style & BS_MULTILINE) ? WrappedRoom(control, text, 0, textWidth)
                                                 : RoomOf(TextRoom(control, text, DT_SINGLELINE, textWidth));
        size.cx = std::max<LONG>(size.cx, room.cx + 2 * padX + imageWidth);
        size.cy = std::max<LONG>(size.cy, room.cy + 2 * padY + imageHeight);
        return size;
    }
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE: {
        const int box = ::MulDiv(13, dpi, 96), gap = ::MulDiv(6, dpi, 96);
        const RECT room = TextRoom(control, text, DT_SINGLELINE, width);
        size.cx = std::max<LONG>(size.cx, box + gap + room.right + 1);
        size.cy = std::max<LONG>(size.cy, std::max<LONG>(room.bottom, box));
        return size;
    }
    default:
        return size;
    }
}

bool Overlap(LONG startA, LONG endA, LONG startB, LONG endB) { return startA < endB && startB < endA; }

// Places the children of one container (-1: the form) and returns how much
// the container has to grow to hold them with its designed margins.
SIZE PlaceChildren(std::vector<Box>& boxes, int container, int dpi) {
    std::vector<int> kids;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
        if (boxes[i].parent == container) kids.push_back(i);
    }
    for (int kid : kids) {
        const SIZE grown = PlaceChildren(boxes, kid, dpi);
        boxes[kid].width += grown.cx;
        boxes[kid].height += grown.cy;
    }
    // Touching within a pixel or two still counts as beside or below.
    const int touching = std::max(1, ::MulDiv(2, dpi, 96));
    // Growing can line up new neighbours; a few rounds settle it.
    for (int round = 0; round < 3; ++round) {
        // A control moves right by what grew on its left in the same rows,
        // and down by what grew above it.
        for (int s : kids) {
            Box& moved = boxes[s];
            LONG right = 0, down = 0;
            for (int c : kids) {
                const Box& other = boxes[c];
                if (c == s || other.fill || moved.fill) continue;
                if (other.design.right <= moved.design.left + touching && other.design.left < moved.design.left &&
                    Overlap(other.design.top, other.design.bottom, moved.design.top, moved.design.bottom)) {
                    right = std::max<LONG>(right, other.left + other.width - other.design.right);
                }
                if (other.design.bottom <= moved.design.top + touching && other.design.top < moved.design.top) {
                    down = std::max<LONG>(down, other.top + other.height - other.design.bottom);
                }
            }
            moved.left = moved.design.left + right;
            moved.top = moved.design.top + down;
        }
        // Controls side by side that ended on one line, and controls in one
        // column that ended on one edge, still do.
        for (int a : kids) {
            for (int b : kids) {
                Box& first = boxes[a];
                const Box& second = boxes[b];
                if (a == b || first.fill || second.fill || first.textSized || second.textSized) continue;
                if (std::abs(first.design.bottom - second.design.bottom) <= 1 &&
                    Overlap(first.design.top, first.design.bottom, second.design.top, second.design.bottom)) {
                    first.height = std::max(first.height, second.top + second.height - first.top);
                }
                if (std::abs(first.design.right - second.design.right) <= 1 &&
                    Overlap(first.design.left, first.design.right, second.design.left, second.design.right)) {
                    first.width = std::max(first.width, second.left + second.width - first.left);
                }
            }
        }
    }
    LONG designRight = LONG_MIN, designBottom = LONG_MIN, right = LONG_MIN, bottom = LONG_MIN;
    for (int kid : kids) {
        const Box& box = boxes[kid];
        if (box.fill) continue;
        designRight = std::max(designRight, box.design.right);
        designBottom = std::max(designBottom, box.design.bottom);
        right = std::max<LONG>(right, box.left + box.width);
        bottom = std::max<LONG>(bottom, box.top + box.height);
    }
    const SIZE grown = {std::max<LONG>(0, right - designRight), std::max<LONG>(0, bottom - designBottom)};
    for (int kid : kids) {
        Box& box = boxes[kid];
        if (!box.fill) continue;
        box.left = box.design.left;
        box.top = box.design.top;
        box.width = box.design.right - box.design.left + grown.cx;
        box.height = box.design.bottom - box.design.top + grown.cy;
    }
    return grown;
}

}  // namespace

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

void Form::MakeFont() {
    LOGFONTW face = {};
    face.lfHeight = -::MulDiv(8, dpi_, 72);
    face.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(face.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    font_.Reset(::CreateFontIndirectW(&face));
}

void Form::LayOut() { Arrange(false); }

void Form::Arrange(bool centre) {
    if (!hwnd_) return;
    std::vector<Box> boxes;
    boxes.reserve(controls_.size());
    for (const Placed& placed : controls_) {
        const ControlDesign& design = placed.design;
        Box box{};
        box.hwnd = placed.hwnd;
        box.parent = placed.parent;
        box.design.left = TwipsToPixels(design.left, dpi_);
        box.design.top = TwipsToPixels(design.top, dpi_);
        box.design.right = box.design.left + TwipsToPixels(design.width, dpi_);
        box.design.bottom = box.design.top + TwipsToPixels(design.height, dpi_);
        box.left = box.design.left;
        box.top = box.design.top;
        const SIZE needed = placed.hwnd ? NeededSize(placed.hwnd, box.design.right - box.design.left,
                                                     box.design.bottom - box.design.top, dpi_)
                                        : SIZE{box.design.right - box.design.left, box.design.bottom - box.design.top};
        box.width = needed.cx;
        box.height = needed.cy;
        box.textSized = placed.hwnd && IsTextSizedLabel(placed.hwnd);
        if (placed.parent >= 0) {
            const ControlDesign& holder = controls_[static_cast<size_t>(placed.parent)].design;
            box.fill = design.left == 0 && design.top == 0 && design.width == holder.width &&
                       design.height == holder.height;
        }
        boxes.push_back(box);
    }
    const SIZE grown = PlaceChildren(boxes, -1, dpi_);
    for (const Box& box : boxes) {
        if (box.hwnd) {
            ::SetWindowPos(box.hwnd, nullptr, box.left, box.top, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SizeWindow(TwipsToPixels(design_.clientWidth, dpi_) + grown.cx,
               TwipsToPixels(design_.clientHeight, dpi_) + grown.cy, centre);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void Form::SizeWindow(int clientWidth, int clientHeight, bool centre) {
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustFrame(frame, static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_STYLE)),
                static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_EXSTYLE)), dpi_);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT now;
    ::GetWindowRect(hwnd_, &now);
    int x = now.left, y = now.top;
    if (centre) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor)) {
            x = monitor.rcWork.left + (monitor.rcWork.right - monitor.rcWork.left - width) / 2;
            y = monitor.rcWork.top + (monitor.rcWork.bottom - monitor.rcWork.top - height) / 2;
        }
    }
    ::SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::ChangeDpi(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    MakeFont();
    for (const Placed& placed : controls_) {
        if (placed.hwnd) ::SendMessageW(placed.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    }
    OnFontChanged();
    // The system's rectangle keeps the window where the user sees it; the
    // size is the layout's own.
    if (suggested) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOut();
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
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

namespace {

void DrawLink(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const TextColours colours = TextColoursOn(::GetParent(item.hwndItem));
    ::SetDCBrushColor(dc, colours.surface);
    ::FillRect(dc, &item.rcItem, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    const std::wstring text = WindowTextOf(item.hwndItem);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = ::SetTextColor(dc, colours.text);
    RECT area = item.rcItem;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
    if (old) ::SelectObject(dc, old);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) ::DrawFocusRect(dc, &item.rcItem);
}

}  // namespace

LRESULT Form::ColourLabel(HDC dc, HWND control) {
    const TextColours colours = TextColoursOn(::GetParent(control));
    ::SetTextColor(dc, colours.text);
    ::SetBkColor(dc, colours.surface);
    ::SetDCBrushColor(dc, colours.surface);
    return reinterpret_cast<LRESULT>(::GetStockObject(DC_BRUSH));
}

void Form::ChangeColours() {
    OnColoursChanged();
    // The common controls among them take the new colours only when told.
    for (const Placed& placed : controls_) {
        if (placed.hwnd) ::SendMessageW(placed.hwnd, WM_SYSCOLORCHANGE, 0, 0);
    }
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

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
