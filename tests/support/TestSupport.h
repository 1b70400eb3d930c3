#pragma once
// Helpers shared by the tests that use real files, registry keys, processes
// and windows under Wine.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/GuardBook.h"
#include "app/LocalKeeper.h"
#include "common/UniqueHandle.h"
#include "forms/FormKit.h"
#include "tests/support/DeleteTree.h"

namespace testing_support {

// A fresh folder under the temporary folder, deleted with all it holds.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& tag = L"vm");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool WriteTextFile(const std::wstring& path, const std::string& content);
bool MakeFolder(const std::wstring& path);

// Puts a unix symbolic link at link (whose folder exists, and where nothing
// is) leading to target, as the host's ln makes it: Wine shows it as a
// folder with a reparse point, as Windows shows a junction. False when it
// did not appear.
bool MakeLink(const std::wstring& link, const std::wstring& target);
// Takes such a link away from the host's side, leaving what it leads to; or
// a file's name, past any lock Wine keeps.
bool RemoveLink(const std::wstring& link);

// Folder of the running test program, where every test helper program lies.
std::wstring BinaryFolder();

// A verifier of password with few rounds, stored where a test needs a
// password: checks stay quick. Whether stored is a verifier of password.
std::wstring QuickVerifier(const std::wstring& password);
bool VerifiesPassword(const std::wstring& stored, const std::wstring& password);

// Opens path from another process with every kind of sharing allowed and
// returns the Win32 error (0 when it opened). ERROR_SHARING_VIOLATION (32)
// means the file is locked.
DWORD OpenFromOutside(const std::wstring& path);
// The same in this process: what any other handle would meet.
DWORD OpenHere(const std::wstring& path, DWORD access = GENERIC_READ);

// Starts a program with arguments; the process handle is returned.
vaultmere::UniqueHandle StartProcess(const std::wstring& exePath, const std::wstring& arguments,
                                     bool inheritHandles = false, const std::wstring& currentFolder = L"");
// Waits for a process; returns its exit code, or STILL_ACTIVE on timeout.
DWORD WaitForExit(HANDLE process, DWORD timeoutMs);

// Polls until condition holds or timeoutMs passes, dispatching this thread's
// messages meanwhile; returns the last result.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 5000, DWORD stepMs = 20) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount64() >= end) return false;
        // Forms get their keyboard handling (Enter, Esc, Tab) as in the program.
        ui::PumpMessages();
        ::Sleep(stepMs);
    }
}

// Waits until a locker has worked through every lock asked of it.
template <typename Locker>
bool Settle(const Locker& locker) {
    return WaitUntil([&] { return locker.Settled(); }, 10000, 1);
}

// A registry key for one test under HKEY_CURRENT_USER, deleted afterwards.
class ScopedTestKey {
public:
    ScopedTestKey();
    ~ScopedTestKey();
    ScopedTestKey(const ScopedTestKey&) = delete;
    ScopedTestKey& operator=(const ScopedTestKey&) = delete;
    HKEY Root() const { return HKEY_CURRENT_USER; }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// The list as a copy with no guard keeps it, with its list and password
// under a test key, as the program builds it.
struct ProgramBook {
    ProgramBook(vaultmere::ItemLocker& locker, const ScopedTestKey& key,
                std::size_t treeLimit = vaultmere::PlatformLockBudget().treeLimit)
        : ProgramBook(locker, {key.Root(), key.Path() + L"\\Files", key.Path() + L"\\Settings"}, treeLimit) {}
    ProgramBook(vaultmere::ItemLocker& locker, vaultmere::ProgramStoreKeys where,
                std::size_t treeLimit = vaultmere::PlatformLockBudget().treeLimit)
        : keys(std::move(where)), keeper(locker, keys, treeLimit), book(keeper) {}
    // Stores items and password, begins as the resident copy does and gives the password.
    void Begin(const std::vector<std::wstring>& items = {}, const std::wstring& password = L"");
    // The list Close saves.
    std::vector<std::wstring> Stored() { return vaultmere::TextsOf(keeper.Keeper().Items()); }
    vaultmere::ProgramStoreKeys keys;
    vaultmere::LocalKeeper keeper;
    vaultmere::GuardBook book;
};

// Where a 64-bit process finds a value of HKEY_LOCAL_MACHINE: in the 32-bit
// view (WOW6432Node), in the 64-bit view, or both. Asked of the system's
// 64-bit reg.exe, so only meaningful on 64-bit Windows (On64BitWindows true:
// this is the 64-bit build, or the 32-bit one under WOW64).
struct RegistryViews {
    bool in32BitView = false;
    bool in64BitView = false;
};
bool IsWow64();
bool On64BitWindows();
RegistryViews FindInRegistryViews(const std::wstring& keyPath, const std::wstring& valueName);

// While it lives, a key of the test key refuses to be written, created in or
// deleted, as HKEY_LOCAL_MACHINE's keys refuse a standard user: its DACL
// denies those rights to everyone.
class WriteDeniedKey {
public:
    WriteDeniedKey(HKEY root, const std::wstring& path);
    ~WriteDeniedKey();
    WriteDeniedKey(const WriteDeniedKey&) = delete;
    WriteDeniedKey& operator=(const WriteDeniedKey&) = delete;
    bool Denied() const { return denied_; }

private:
    bool SetDacl(const wchar_t* sddl);
    HKEY root_;
    std::wstring path_;
    bool denied_ = false;
};

using ui::FindDescendant;

// The entries of a list box in any process, however long.
std::vector<std::wstring> ListBoxEntries(HWND list);

// Text of a window in any process (WM_GETTEXT, which crosses processes).
std::wstring WindowText(HWND window);
// A synthesized left click at the centre of a window, or a left or right
// click at a point of its client area.
void ClickCentre(HWND window);
void ClickAt(HWND window, POINT clientPoint, bool rightButton = false);
// A click on an entry of a list box.
void ClickListItem(HWND list, int index);
// Does act until done holds: under Wine a synthesized click now and then
// goes astray while the receiving process is busy. Each try waits up to
// waitMs; a command whose outcome shows clicked again is a no-op (nothing
// selected, a hidden window), so a late first click does no harm.
template <typename Action, typename Condition>
bool RepeatUntil(Action act, Condition done, int attempts = 3, DWORD waitMs = 3000) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (done()) return true;
        act();
        if (WaitUntil(done, waitMs)) return true;
    }
    return done();
}
// Clicks the centre of window until done holds.
template <typename Condition>
bool ClickUntil(HWND window, Condition done, int attempts = 3, DWORD waitMs = 3000) {
    return RepeatUntil([window] { ClickCentre(window); }, done, attempts, waitMs);
}
// Presses and releases a key (VK_RETURN, VK_ESCAPE) for the focused window.
void PressKey(WORD virtualKey);

// Every label, button, link and check box below window whose text, measured
// with the control's own font and wrapped where the control wraps, needs more
// room than the control has, or that reaches outside its parent; and every
// label and check box whose colours are not the system's or hardly differ
// from each other, in the scheme set and in a white-on-black one. One line
// each.
std::vector<std::wstring> TextThatCannotBeRead(HWND window, int dpi);

// The system's colours of a scheme for the life of the object; the ones
// before are put back after.
class ScopedSystemColours {
public:
    ScopedSystemColours(std::vector<int> elements, std::vector<COLORREF> colours);
    ~ScopedSystemColours();
    ScopedSystemColours(const ScopedSystemColours&) = delete;
    ScopedSystemColours& operator=(const ScopedSystemColours&) = delete;

private:
    std::vector<int> elements_;
    std::vector<COLORREF> before_;
};
// Lays a form out for another DPI as the system asks it to.
void SendDpiChange(HWND window, int dpi);

}  // namespace testing_support
