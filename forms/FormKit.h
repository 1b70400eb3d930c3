#pragma once
// The small form toolkit every window of the program is built on: one
// window class whose procedure forwards to a Form object, controls created
// from a table in twips and grown to fit their text, panels that pass their
// children's notifications on, and the message loop that gives every form
// dialog-style keyboard handling. This is the one header windows include;
// the parts live in FormKit.cpp (the window base), FormLayout.cpp (twips to
// pixels, fitting), FormDrawing.cpp (colours, links) and MessageLoop.cpp.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"
#include "forms/FormDrawing.h"
#include "forms/FormLayout.h"
#include "forms/MessageLoop.h"

namespace ui {

constexpr int kProgramIconId = 1;

// The window class of every form, the two windows that carry the titles
// through which copies of the program find each other among them.
extern const wchar_t kFormClass[];

// A borderless child window that holds controls, fills itself with a colour
// and passes its children's notifications up to the form.
extern const wchar_t kPanelClass[];

class Form {
public:
    Form() = default;
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND Handle() const { return hwnd_; }
    bool IsLoaded() const { return hwnd_ != nullptr; }
    HWND Control(int id) const;
    int Dpi() const { return dpi_; }
    // The table entry a control of this form was built from; null for any
    // other window.
    const ControlDesign* DesignOf(HWND control) const;

    // Builds the window from its design-time state unless it is loaded.
    void EnsureLoaded() {
        if (!hwnd_) Load();
    }
    // Loads the form when needed, then shows it without an owner window.
    void Show(int showCommand = SW_SHOW);
    void Hide();
    bool IsVisible() const;
    // Destroys the window; the next Show builds it from scratch.
    void Unload();

    std::wstring Caption() const;
    void SetCaption(const std::wstring& text);
    std::wstring ControlText(int id) const;
    // Sets a control's text; a label, button or check box then gets the room
    // its new text needs.
    void SetControlText(int id, const std::wstring& text);

protected:
    // Builds the window and its controls; called by Show when not loaded.
    virtual void Load() = 0;
    // The designs are the least size and place of each control: after
    // creation at the window's DPI every label, button and check box grows to
    // its text, and what lies below or beside it, its panel and the window
    // grow or move with it. A label that does not wrap (SS_LEFTNOWORDWRAP)
    // takes exactly the size of its text.
    bool Create(const FormDesign& form, const ControlDesign* controls, std::size_t count);
    HFONT DialogFont() const { return font_.Get(); }
    // Lays every control out again from its design for the window's DPI and
    // the controls' texts; the window keeps its place.
    void LayOut();
    // Called whenever every control has just been given the dialog font (at
    // creation and when the DPI changes), before the layout measures them:
    // controls with a font of their own set it here.
    virtual void OnFontChanged() {}
    // Called when the user changed the system's colours or switched high
    // contrast on or off, before everything is painted anew.
    virtual void OnColoursChanged() {}

    // Dispatch points. The defaults do nothing (commands) or close the form
    // (WM_CLOSE).
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnCommand(int id, int notifyCode, HWND control);
    virtual void OnClose() { Unload(); }
    virtual void OnUnloaded() {}

    // The button Enter presses (0: none) and whether Esc is forwarded to
    // OnCommand as IDCANCEL.
    int defaultButtonId_ = 0;

private:
    struct Placed {
        ControlDesign design;
        HWND hwnd;
        int parent;  // index into controls_, -1 for the form
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreateControl(const ControlDesign& design, HWND parent);
    void MakeFont();
    void Arrange(bool centre);
    void ChangeDpi(int dpi, const RECT* suggested);
    void ChangeColours();
    static LRESULT ColourLabel(HDC dc, HWND control);
    // Places the window's frame for a client area of this size.
    void SizeWindow(int clientWidth, int clientHeight, bool centre);

    HWND hwnd_ = nullptr;
    HWND lastFocus_ = nullptr;
    // Set only while this form's own CreateWindowExW or DestroyWindow runs:
    // the creation and destruction messages are taken from no one else.
    bool creating_ = false;
    bool destroying_ = false;
    int dpi_ = 96;
    vaultmere::UniqueFont font_;
    FormDesign design_ = {};
    std::vector<Placed> controls_;
};

// An edit box for a password: masked, at most maxLength characters, and
// with no input method editor, whose composition window would show it.
void MakePasswordField(HWND edit, std::size_t maxLength);
// The program's icon on an SS_ICON label.
void ShowProgramIcon(HWND label);

// A control anywhere below a window, inside panels too, by its ID.
HWND FindDescendant(HWND window, int id);

}  // namespace ui
