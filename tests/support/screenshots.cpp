// Shows the program's windows with sample content and saves each as a BMP
// in the folder given (used by scripts/screenshots.sh for the README), or,
// with --window TITLE FILE, saves the visible top-level window of that title
// (used by scripts/run.sh for the running program's prompt).
#include <windows.h>

#include <string>
#include <vector>

#include "app/ResidentWindow.h"
#include "common/AppState.h"
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
    void SetItemLocked(const std::wstring&, bool) override {}
    std::vector<vaultmere::ItemStatus> StatusOf(const std::vector<std::wstring>& paths) const override {
        std::vector<vaultmere::ItemStatus> statuses(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            statuses[i].locked = true;
            statuses[i].filesHeld = 12;
            if (paths[i] == L"d:\\private\\*.*") statuses[i].filesWaiting = 2;
            if (paths[i] == L"e:\\archive\\*.*") statuses[i].folder = vaultmere::ItemStatus::Folder::Unreachable;
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

bool SaveWindow(HWND window, const std::wstring& path) {
    RECT area;
    ::GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::SelectObject(memory, old);
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE && ::WriteFile(file, &header, sizeof header, &written, nullptr) &&
                    ::WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
                    ::WriteFile(file, bits, imageSize, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok;
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
    return ok ? 0 : 1;
}
