// Shows the program's windows with sample content and saves each as a BMP
// in the folder given (used by scripts/screenshots.sh for the README), the
// configuration window a second time in a high-contrast colour scheme; or,
// with --window TITLE FILE, saves the visible top-level window of that title
// (used by scripts/run.sh for the running program's prompt).
#include <windows.h>

#include <string>
#include <vector>

#include "app/ResidentWindow.h"
#include "common/AppState.h"
#include "common/UniqueHandle.h"
#include "forms/add/AddWindow.h"
#include "forms/config/ConfigWindow.h"
#include "forms/password/PasswordWindow.h"
#include "locker/ItemLocker.h"
#include "tests/support/TestSupport.h"

namespace {

// Locks nothing; reports two files of one folder in use elsewhere and
// another folder on a drive that is not there, so that notes show.
class NoLocks : public vaultmere::ItemLocker {
public:
    void SetItemLocked(const vaultmere::Item&, bool) override {}
    std::vector<vaultmere::ItemStatus> StatusOf(const std::vector<vaultmere::Item>& paths) const override {
        std::vector<vaultmere::ItemStatus> statuses(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            statuses[i].locked = true;
            statuses[i].filesHeld = 12;
            if (paths[i].Text() == L"d:\\private\\*.*") statuses[i].filesWaiting = 2;
            if (paths[i].Text() == L"e:\\archive\\*.*") statuses[i].folder = vaultmere::ItemStatus::Folder::Unreachable;
        }
        return statuses;
    }
};

void Settle() {
    const ULONGLONG end = ::GetTickCount64() + 700;
    while (::GetTickCount64() < end) {
        ui::PumpMessages();
        ::Sleep(20);
    }
}

// The screen's device context, given back when done.
class ScreenDC {
public:
    ScreenDC() : dc_(::GetDC(nullptr)) {}
    ~ScreenDC() {
        if (dc_) ::ReleaseDC(nullptr, dc_);
    }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

struct MemoryDCTraits {
    using Handle = HDC;
    static Handle Empty() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DeleteDC(h); }
};

struct BitmapTraits {
    using Handle = HBITMAP;
    static Handle Empty() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

using UniqueMemoryDC = vaultmere::UniqueResource<MemoryDCTraits>;
using UniqueBitmap = vaultmere::UniqueResource<BitmapTraits>;

// An object selected into a device context until the end of the scope.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~Selection() { ::SelectObject(dc_, old_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

bool SaveWindow(HWND window, const std::wstring& path) {
    RECT area;
    if (!::GetWindowRect(window, &area)) return false;
    const int width = area.right - area.left, height = area.bottom - area.top;
    ScreenDC screen;
    UniqueMemoryDC memory(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    UniqueBitmap bitmap(::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen.Get() || !memory || !bitmap || !bits) return false;
    {
        Selection selected(memory.Get(), bitmap.Get());
        if (!::BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), area.left, area.top, SRCCOPY)) return false;
    }
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    vaultmere::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), &header, sizeof header, &written, nullptr) &&
           ::WriteFile(file.Get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
           ::WriteFile(file.Get(), bits, imageSize, &written, nullptr);
}

// A white-on-black high-contrast scheme, as Windows ships one, for the
// session while it lives; the colours before it come back at its end, so
// the prefix the tests share is left as it was.
testing_support::ScopedSystemColours HighContrastColours() {
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255), cyan = RGB(26, 235, 255);
    const COLORREF green = RGB(63, 242, 63), yellow = RGB(255, 255, 0), purple = RGB(128, 0, 128);
    const COLORREF darkGreen = RGB(0, 128, 0);
    return testing_support::ScopedSystemColours({COLOR_WINDOW,
                                                 COLOR_WINDOWTEXT,
                                                 COLOR_WINDOWFRAME,
                                                 COLOR_BTNFACE,
                                                 COLOR_BTNTEXT,
                                                 COLOR_BTNHIGHLIGHT,
                                                 COLOR_3DLIGHT,
                                                 COLOR_BTNSHADOW,
                                                 COLOR_3DDKSHADOW,
                                                 COLOR_HIGHLIGHT,
                                                 COLOR_HIGHLIGHTTEXT,
                                                 COLOR_GRAYTEXT,
                                                 COLOR_HOTLIGHT,
                                                 COLOR_MENU,
                                                 COLOR_MENUTEXT,
                                                 COLOR_MENUHILIGHT,
                                                 COLOR_MENUBAR,
                                                 COLOR_INFOBK,
                                                 COLOR_INFOTEXT,
                                                 COLOR_ACTIVECAPTION,
                                                 COLOR_GRADIENTACTIVECAPTION,
                                                 COLOR_CAPTIONTEXT,
                                                 COLOR_INACTIVECAPTION,
                                                 COLOR_GRADIENTINACTIVECAPTION,
                                                 COLOR_INACTIVECAPTIONTEXT,
                                                 COLOR_ACTIVEBORDER,
                                                 COLOR_INACTIVEBORDER,
                                                 COLOR_APPWORKSPACE,
                                                 COLOR_BACKGROUND,
                                                 COLOR_SCROLLBAR},
                                                {black, white, white, black,  white,  white, white,     white,
                                                 white, cyan,  black, green,  yellow, black, white,     cyan,
                                                 black, black, white, purple, purple, white, darkGreen, darkGreen,
                                                 white, black, black, black,  black,  black});
}

}  // namespace

int SaveVisibleWindow(const std::wstring& title, const std::wstring& path) {
    HWND window = nullptr;
    for (int tries = 0; tries < 100; ++tries) {
        window = ::FindWindowW(nullptr, title.c_str());
        if (window && ::IsWindowVisible(window)) break;
        ::Sleep(100);
    }
    if (!window || !::IsWindowVisible(window)) return 2;
    ::SetForegroundWindow(window);
    Settle();
    return SaveWindow(window, path) ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc > 3 && std::wstring(argv[1]) == L"--window") return SaveVisibleWindow(argv[2], argv[3]);
    const std::wstring folder = argc > 1 ? argv[1] : L".";
    vaultmere::AppState state;
    NoLocks locker;
    testing_support::ScopedTestKey key;
    testing_support::ProgramBook program(locker, key);
    program.Begin({L"c:\\users\\public\\documents\\accounts\\*.*", L"d:\\private\\*.*", L"e:\\archive\\*.*",
                   L"c:\\projects\\plans\\*.*"});
    vaultmere::GuardBook& lists = program.book;
    lists.lockedList.SetListIndex(3);
    lists.UnlockSelected();
    lists.lockedList.SetListIndex(0);
    vaultmere::InfoWindow messageWindow;
    vaultmere::ConfigWindow configuration(state, lists, messageWindow);

    configuration.Show();
    ::SetWindowPos(configuration.Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    Settle();
    bool ok = SaveWindow(configuration.Handle(), folder + L"\\configuration.bmp");

    configuration.OnAbout();
    ::SetWindowPos(messageWindow.Handle(), HWND_TOP, 600, 500, 0, 0, SWP_NOSIZE);
    Settle();
    ok = SaveWindow(messageWindow.Handle(), folder + L"\\about.bmp") && ok;
    messageWindow.Unload();

    // The add dialog opens at the process's current folder.
    wchar_t publicFolder[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"PUBLIC", publicFolder, MAX_PATH)) ::SetCurrentDirectoryW(publicFolder);
    vaultmere::AddWindow add(lists, state);
    add.Show();
    ::SetWindowPos(add.Handle(), HWND_TOP, 600, 40, 0, 0, SWP_NOSIZE);
    Settle();
    ok = SaveWindow(add.Handle(), folder + L"\\add.bmp") && ok;
    add.Unload();

    vaultmere::ResidentWindow prompt(state, lists, messageWindow);
    prompt.Show();
    ::SetWindowPos(prompt.Handle(), HWND_TOP, 40, 500, 0, 0, SWP_NOSIZE);
    Settle();
    ok = SaveWindow(prompt.Handle(), folder + L"\\prompt.bmp") && ok;
    prompt.Hide();

    vaultmere::PasswordWindow password(state);
    password.Show();
    ::SetWindowPos(password.Handle(), HWND_TOP, 40, 700, 0, 0, SWP_NOSIZE);
    Settle();
    ok = SaveWindow(password.Handle(), folder + L"\\password.bmp") && ok;
    password.Unload();

    // The configuration window once more, in a high-contrast scheme.
    ::SetWindowPos(configuration.Handle(), HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    {
        const testing_support::ScopedSystemColours highContrast = HighContrastColours();
        ::RedrawWindow(configuration.Handle(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Settle();
        ok = SaveWindow(configuration.Handle(), folder + L"\\configuration-high-contrast.bmp") && ok;
    }
    Settle();
    return ok ? 0 : 1;
}
