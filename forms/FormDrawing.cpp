// How forms draw: panels' colours, the colours of text on them, links.
#include "forms/FormDrawing.h"

#include <string>

#include "forms/FormKit.h"
#include "forms/FormKitInternal.h"

namespace ui {

using detail::WindowTextOf;

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

namespace detail {

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

}  // namespace detail

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

}  // namespace ui
