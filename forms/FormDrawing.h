#pragma once
// How forms draw (FormDrawing.cpp): the colours of panels and of the text on
// them, which follow the system's scheme, and links.
#include <windows.h>

namespace ui {

// A panel's background: a fixed colour, or one of the system's colours
// (COLOR_WINDOW, ...), which it follows when the user changes the scheme.
void SetPanelColour(HWND panel, COLORREF colour);
void SetPanelSystemColour(HWND panel, int systemColour);

// The colours text is drawn in on a control's parent: the parent's surface
// and the system text colour that goes with it.
struct TextColours {
    COLORREF text;
    COLORREF surface;
};
TextColours TextColoursOn(HWND parent);
// Whether the user chose a high-contrast scheme.
bool HighContrast();

// A link: a command drawn as underlined text that takes the focus like a
// button (Space and Enter click it) and reads as one to a screen reader.
// Its table entry is a BUTTON with this style; the form draws it in the
// font it is given.
constexpr DWORD kLinkStyle = BS_OWNERDRAW;

}  // namespace ui
