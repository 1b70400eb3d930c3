#pragma once
// What the parts of the form toolkit share among themselves. Windows include
// forms/FormKit.h only.
#include <windows.h>

#include <string>

namespace ui::detail {

std::wstring WindowTextOf(HWND window);
// Whether a window is of this class; the system's class names in any case.
bool IsClass(HWND window, const wchar_t* name);
bool IsLink(HWND control);
// Draws a link (FormDrawing.cpp) for the form's WM_DRAWITEM.
void DrawLink(const DRAWITEMSTRUCT& item);

}  // namespace ui::detail
