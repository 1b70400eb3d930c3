#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/ResidentWindow.h"
#include "forms/add/AddWindow.h"
#include "forms/add/FolderLockWindow.h"
#include "forms/config/ConfigWindow.h"
#include "forms/password/PasswordWindow.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

class NoLocks : public ItemLocker {
public:
    void SetItemLocked(const std::wstring&, bool) override {}
};

// Where a control is in its parent, and where its table entry put it before
// the layout fitted it to its text.
RECT PlaceInParent(HWND control) {
    RECT place;
    ::GetWindowRect(control, &place);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}
RECT DesignedPlace(const ui::ControlDesign& design, int dpi) {
    const LONG left = ui::TwipsToPixels(design.left, dpi), top = ui::TwipsToPixels(design.top, dpi);
    return RECT{left, top, left + ui::TwipsToPixels(design.width, dpi), top + ui::TwipsToPixels(design.height, dpi)};
}

bool Overlap(const RECT& a, const RECT& b) {
    RECT both;
    return ::IntersectRect(&both, &a, &b) != FALSE;
}
bool Inside(const RECT& inner, const RECT& outer) {
    RECT both;
    return ::UnionRect(&both, &inner, &outer) && ::EqualRect(&both, &outer);
}

BOOL CALLBACK AddChild(HWND child, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
    return TRUE;
}

std::vector<HWND> VisibleControls(const ui::Form& form) {
    std::vector<HWND> all, shown;
    ::EnumChildWindows(form.Handle(), &AddChild, reinterpret_cast<LPARAM>(&all));
    for (HWND control : all) {
        if (form.DesignOf(control) && ::IsWindowVisible(control)) shown.push_back(control);
    }
    return shown;
}

std::wstring Name(HWND control) { return L"control " + std::to_wstring(::GetDlgCtrlID(control)); }

// Controls that reach outside their parent or cover one another where their
// design has them apart; a list box drawn larger than the frame that cuts
// its edge off is designed so.
std::vector<std::wstring> MisplacedControls(const ui::Form& form) {
    std::vector<std::wstring> faults;
    const std::vector<HWND> controls = VisibleControls(form);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        HWND control = controls[i], parent = ::GetParent(control);
        const RECT place = PlaceInParent(control), designed = DesignedPlace(*form.DesignOf(control), form.Dpi());
        const ui::ControlDesign* holder = form.DesignOf(parent);
        RECT room;
        ::GetClientRect(parent, &room);
        const bool designedInside = !holder || Inside(designed, RECT{0, 0, ui::TwipsToPixels(holder->width, form.Dpi()),
                                                                     ui::TwipsToPixels(holder->height, form.Dpi())});
        if (designedInside && !Inside(place, room)) {
            faults.push_back(Name(control) + L" reaches outside its parent");
        }
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            HWND other = controls[j];
            if (::GetParent(other) == parent && Overlap(place, PlaceInParent(other)) &&
                !Overlap(designed, DesignedPlace(*form.DesignOf(other), form.Dpi()))) {
                faults.push_back(Name(control) + L" overlaps " + Name(other));
            }
        }
    }
    return faults;
}

int FontHeight(HWND control) {
    LOGFONTW face{};
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    return font && ::GetObjectW(font, sizeof face, &face) == sizeof face ? std::abs(face.lfHeight) : 0;
}

// Every window as it opens, laid out for 96 and for 144 DPI as the system
// asks when it moves to a monitor of that DPI: each text fits its control,
// in each colour scheme, every control stays inside its parent and apart
// from the others, and every font follows the DPI.
TEST(WindowLayoutTest, EveryWindowFitsItsTextsAt96And144Dpi) {
    TempFolder folder{L"layout"};
    ScopedTestKey key;
    NoLocks locker;
    ProgramBook program{locker, key};
    program.Begin({folder / L"*.*", folder.Path() + L"\\with a longer name\\*.*"}, L"pw");
    AppState state;
    state.applicationFolder = BinaryFolder() + L"\\";
    InfoWindow messageWindow;
    ResidentWindow prompt{state, program.book, messageWindow};
    ConfigWindow configuration{state, program.book, messageWindow};
    AddWindow add{program.book, state};
    FolderLockWindow folderLock{program.book, state, folder.Path()};
    PasswordWindow password{state};
    password.book = &program.book;
    configuration.Show();
    configuration.OnAbout();  // the information window with the longest text it shows

    const std::vector<std::pair<const char*, ui::Form*>> windows = {
        {"prompt", &prompt}, {"configuration", &configuration}, {"information", &messageWindow},
        {"add", &add},       {"folder lock", &folderLock},      {"password", &password}};
    std::map<HWND, int> heightsAt96;
    for (const int dpi : {96, 144}) {
        for (const auto& [name, form] : windows) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(dpi) + " dpi");
            form->Show();
            SendDpiChange(form->Handle(), dpi);
            ASSERT_EQ(dpi, form->Dpi());
            EXPECT_EQ(std::vector<std::wstring>(), TextThatCannotBeRead(form->Handle(), dpi));
            EXPECT_EQ(std::vector<std::wstring>(), MisplacedControls(*form));
            std::vector<std::wstring> fontsLeftBehind;
            for (HWND control : VisibleControls(*form)) {
                if (dpi == 96) heightsAt96[control] = FontHeight(control);
                if (dpi == 144 && std::abs(heightsAt96[control] * 3 / 2 - FontHeight(control)) > 1) {
                    fontsLeftBehind.push_back(Name(control));
                }
            }
            EXPECT_EQ(std::vector<std::wstring>(), fontsLeftBehind);
        }
    }
}

}  // namespace
}  // namespace vaultmere
