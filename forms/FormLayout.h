#pragma once
// A form's layout as data: its controls in one table, in twips, turned into
// pixels at the window's DPI when the window is built (FormLayout.cpp).
#include <windows.h>

namespace ui {

constexpr int kTwipsPerInch = 1440;

// The DPI of the screen, and of one window where the system keeps a DPI per
// monitor.
int ScreenDpi();
int WindowDpi(HWND window);
int TwipsToPixels(int twips, int dpi);

struct ControlDesign {
    int id;        // control ID; 0 when nothing refers to it
    int parentId;  // 0: the form; else the ID of a panel earlier in the table
    const wchar_t* className;
    const wchar_t* text;
    int left, top, width, height;  // twips, relative to the parent
    DWORD style;                   // added to WS_CHILD | WS_VISIBLE
    DWORD exStyle;
};

struct FormDesign {
    const wchar_t* caption;
    int clientWidth, clientHeight;  // twips
    DWORD style;                    // WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, ...
    DWORD exStyle;                  // WS_EX_TOOLWINDOW hides the taskbar button
    bool centred;
};

}  // namespace ui
