// The layout engine: a form's table of controls in twips turned into pixels
// at the window's DPI, every control grown to fit its text and what lies
// below or beside it moved along.
#include "forms/FormLayout.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/SystemFunction.h"
#include "forms/FormKit.h"
#include "forms/FormKitInternal.h"

namespace ui {

using detail::IsClass;
using detail::IsLink;
using detail::WindowTextOf;

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

}  // namespace ui
