#include "tests/support/TestSupport.h"

#include <sddl.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/SystemPasswordHash.h"
#include "store/Registry.h"

namespace testing_support {

namespace {

std::wstring UniqueSuffix() {
    static LONG counter = 0;
    return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) + L"-" +
           std::to_wstring(::InterlockedIncrement(&counter));
}

// The host's name of a Windows path, from Wine's kernel32; "" elsewhere.
std::string UnixName(const std::wstring& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(path.c_str()) : nullptr;
    if (!name) return std::string();
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// Runs a host program (Wine runs one named by its Windows path); it cannot
// be waited for.
bool RunOnHost(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    vaultmere::UniqueHandle(process.hProcess).Reset();
    vaultmere::UniqueHandle(process.hThread).Reset();
    return true;
}

// The host's name of a place in a folder that exists (unix names are ASCII here).
std::wstring HostName(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    const std::string folder = UnixName(path.substr(0, slash));
    return folder.empty() ? std::wstring() : std::wstring(folder.begin(), folder.end()) + L"/" + path.substr(slash + 1);
}

bool IsLinkNow(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool MakeLink(const std::wstring& link, const std::wstring& target) {
    const std::wstring from = HostName(link);
    const std::wstring to = HostName(target);
    return !from.empty() && !to.empty() && RunOnHost(L"Z:\\bin\\ln -s " + to + L" " + from) &&
           WaitUntil([&] { return IsLinkNow(link); });
}

bool RemoveLink(const std::wstring& link) {
    const std::wstring name = HostName(link);
    return !name.empty() && RunOnHost(L"Z:\\bin\\rm -f " + name) &&
           WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

TempFolder::TempFolder(const std::wstring& tag) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + tag + L"-" + UniqueSuffix();
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { DeleteTree(path_); }

bool WriteTextFile(const std::wstring& path, const std::string& content) {
    vaultmere::UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

bool MakeFolder(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

std::wstring BinaryFolder() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    return path.substr(0, path.find_last_of(L'\\'));
}

vaultmere::UniqueHandle StartProcess(const std::wstring& exePath, const std::wstring& arguments, bool inheritHandles,
                                     const std::wstring& currentFolder) {
    std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, inheritHandles ? TRUE : FALSE, 0, nullptr,
                          currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info)) {
        return vaultmere::UniqueHandle();
    }
    ::CloseHandle(info.hThread);
    return vaultmere::UniqueHandle(info.hProcess);
}

DWORD WaitForExit(HANDLE process, DWORD timeoutMs) {
    if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return code;
}

DWORD OpenFromOutside(const std::wstring& path) {
    vaultmere::UniqueHandle process = StartProcess(BinaryFolder() + L"\\outsider.exe", L"\"" + path + L"\"");
    if (!process) return ::GetLastError() ? ::GetLastError() : ERROR_GEN_FAILURE;
    return WaitForExit(process.Get(), 30000);
}

DWORD OpenHere(const std::wstring& path, DWORD access) {
    vaultmere::UniqueHandle file(::CreateFileW(path.c_str(), access,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
}

bool IsWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool On64BitWindows() {
#ifdef _WIN64
    return true;
#else
    return IsWow64();
#endif
}

RegistryViews FindInRegistryViews(const std::wstring& keyPath, const std::wstring& valueName) {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
#ifdef _WIN64
    const std::wstring reg = std::wstring(windows) + L"\\System32\\reg.exe";
#else
    // Sysnative is the real System32 for a 32-bit process: its reg.exe is the 64-bit one.
    const std::wstring reg = std::wstring(windows) + L"\\Sysnative\\reg.exe";
#endif
    const auto found = [&](const wchar_t* view) {
        vaultmere::UniqueHandle process = StartProcess(reg, L"query \"HKLM\\" + keyPath + L"\" /v \"" + valueName +
                                                                L"\" " + view);
        return process && WaitForExit(process.Get(), 30000) == 0;
    };
    return {found(L"/reg:32"), found(L"/reg:64")};
}

ScopedTestKey::ScopedTestKey() : path_(L"Software\\VaultmereTests\\" + UniqueSuffix()) {}

ScopedTestKey::~ScopedTestKey() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

WriteDeniedKey::WriteDeniedKey(HKEY root, const std::wstring& path) : root_(root), path_(path) {
    // Denied: set value, create subkey, delete; everything else allowed.
    denied_ = SetDacl(L"D:P(D;;0x10006;;;WD)(A;;KA;;;WD)");
}

WriteDeniedKey::~WriteDeniedKey() {
    if (denied_) SetDacl(L"D:P(A;;KA;;;WD)");
}

bool WriteDeniedKey::SetDacl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    vaultmere::UniqueKey key;
    LONG result = ::RegOpenKeyExW(root_, path_.c_str(), 0, WRITE_DAC, key.Put());
    if (result == ERROR_SUCCESS) result = ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

std::vector<std::wstring> ListBoxEntries(HWND list) {
    std::vector<std::wstring> entries;
    const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(length > 0 ? static_cast<size_t>(length) + 1 : 1, L'\0');
        const LRESULT copied = ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                              reinterpret_cast<LPARAM>(&text[0]));
        text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
        entries.push_back(text);
    }
    return entries;
}

std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
    return std::wstring(text, static_cast<size_t>(copied));
}

void ClickCentre(HWND window) {
    RECT area;
    ::GetClientRect(window, &area);
    ClickAt(window, POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2});
}

void ClickAt(HWND window, POINT point, bool rightButton) {
    ::ClientToScreen(window, &point);
    const HWND root = ::GetAncestor(window, GA_ROOT);
    ::SetForegroundWindow(root);
    // Another process makes its windows hidden and shows them once placed:
    // a click sent before then lands on whatever lies beneath.
    WaitUntil(
        [&] {
            const HWND hit = ::WindowFromPoint(point);
            return ::IsWindowVisible(root) && hit != nullptr && ::GetAncestor(hit, GA_ROOT) == root;
        },
        2000);
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN) - 1;
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN) - 1;
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = ::MulDiv(point.x, 65535, screenWidth);
        input.mi.dy = ::MulDiv(point.y, 65535, screenHeight);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = (rightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN) | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = (rightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP) | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(3, inputs, sizeof(INPUT));
}

void ClickListItem(HWND list, int index) {
    RECT item{};
    ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    ClickAt(list, POINT{item.left + 10, (item.top + item.bottom) / 2});
}

void PressKey(WORD virtualKey) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = virtualKey;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, inputs, sizeof(INPUT));
}

namespace {

struct TextControls {
    HWND window;
    int dpi;
    std::vector<std::wstring> faults;
    const wchar_t* scheme;  // the colour scheme, when only colours are checked
};

std::wstring Describe(HWND control, const wchar_t* problem, const RECT& has, const RECT& needs) {
    return L"control " + std::to_wstring(::GetDlgCtrlID(control)) + L" \"" + WindowText(control) + L"\": " + problem +
           L" (has " + std::to_wstring(has.right - has.left) + L"x" + std::to_wstring(has.bottom - has.top) +
           L", needs " + std::to_wstring(needs.right - needs.left) + L"x" + std::to_wstring(needs.bottom - needs.top) +
           L")";
}

double Luminance(COLORREF colour) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) + 0.0722 * linear(GetBValue(colour));
}

bool IsSystemColour(COLORREF colour) {
    for (int index = COLOR_SCROLLBAR; index <= COLOR_MENUBAR; ++index) {
        if (::GetSysColor(index) == colour) return true;
    }
    return false;
}

// A label or check box whose owner gives it colours of its own making, or a
// text colour too close to its background to be read.
void CheckColours(HWND control, const wchar_t* scheme, std::vector<std::wstring>& faults) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc) return;
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(::GetParent(control), WM_CTLCOLORSTATIC,
                                                               reinterpret_cast<WPARAM>(dc),
                                                               reinterpret_cast<LPARAM>(control)));
    COLORREF surface = ::GetBkColor(dc);
    LOGBRUSH face{};
    if (brush == ::GetStockObject(DC_BRUSH)) {
        surface = ::GetDCBrushColor(dc);
    } else if (brush && ::GetObjectW(brush, sizeof face, &face) == sizeof face) {
        surface = face.lbColor;
    }
    const COLORREF text = ::GetTextColor(dc);
    ::DeleteDC(dc);
    const double lighter = std::max(Luminance(text), Luminance(surface));
    const double darker = std::min(Luminance(text), Luminance(surface));
    const std::wstring name = std::wstring(scheme ? scheme : L"") + L"control " +
                              std::to_wstring(::GetDlgCtrlID(control)) + L" \"" + WindowText(control);
    if (!IsSystemColour(text) || !IsSystemColour(surface)) {
        faults.push_back(name + L"\": colours not the system's");
    } else if ((lighter + 0.05) / (darker + 0.05) < 3.0) {
        faults.push_back(name + L"\": text hardly stands out from its background");
    }
}

BOOL CALLBACK CheckTextControl(HWND control, LPARAM data) {
    auto* check = reinterpret_cast<TextControls*>(data);
    if (!::IsWindowVisible(control)) return TRUE;
    wchar_t className[32] = {};
    ::GetClassNameW(control, className, 32);
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    const std::wstring text = WindowText(control);
    const bool isStatic = lstrcmpiW(className, L"STATIC") == 0;
    const bool isButton = lstrcmpiW(className, L"BUTTON") == 0;
    if (text.empty() || !(isStatic || isButton)) return TRUE;
    const int staticType = style & SS_TYPEMASK;
    const int buttonType = style & BS_TYPEMASK;
    const bool textStatic = staticType == SS_LEFT || staticType == SS_CENTER || staticType == SS_RIGHT ||
                            staticType == SS_LEFTNOWORDWRAP || staticType == SS_SIMPLE;
    const bool pushButton = isButton && (buttonType == BS_PUSHBUTTON || buttonType == BS_DEFPUSHBUTTON);
    const bool link = isButton && buttonType == BS_OWNERDRAW;
    const bool checkBox = isButton &&
                          (buttonType == BS_CHECKBOX || buttonType == BS_AUTOCHECKBOX || buttonType == BS_RADIOBUTTON ||
                           buttonType == BS_AUTORADIOBUTTON || buttonType == BS_3STATE || buttonType == BS_AUTO3STATE);
    if (isStatic && !textStatic) return TRUE;
    if (isButton && !pushButton && !checkBox && !link) return TRUE;
    if (isStatic || checkBox) CheckColours(control, check->scheme, check->faults);
    if (check->scheme) return TRUE;

    RECT has;
    ::GetClientRect(control, &has);
    // A push button draws its text inside its edge and focus rectangle, a
    // check box beside its box.
    const int edge = pushButton ? ::MulDiv(3, check->dpi, 96) : 0;
    const int box = checkBox ? ::MulDiv(13 + 3, check->dpi, 96) : 0;
    int imageWidth = 0, imageHeight = 0;
    BUTTON_IMAGELIST images{};
    if (pushButton && ::SendMessageW(control, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images)) && images.himl) {
        ::ImageList_GetIconSize(images.himl, &imageWidth, &imageHeight);
        if (images.uAlign == BUTTON_IMAGELIST_ALIGN_TOP || images.uAlign == BUTTON_IMAGELIST_ALIGN_BOTTOM) {
            imageWidth = 0;
        } else {
            imageHeight = 0;
        }
    }
    UINT format = DT_CALCRECT | DT_EXPANDTABS;
    const bool wraps = isStatic ? staticType != SS_LEFTNOWORDWRAP && staticType != SS_SIMPLE
                                : !link && (style & BS_MULTILINE) != 0;
    if (!wraps) format |= DT_SINGLELINE;
    if ((isStatic && (style & SS_NOPREFIX)) || link || (isButton && text.find(L'&') == std::wstring::npos)) {
        format |= DT_NOPREFIX;
    }
    const int width = has.right - 2 * edge - box - imageWidth;
    RECT needs = {0, 0, width, 0};
    HDC dc = ::CreateCompatibleDC(nullptr);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = ::SelectObject(dc, font ? font : ::GetStockObject(SYSTEM_FONT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needs, format);
    if (wraps && needs.right > width) {
        // Too long for one line: wrapped at the control's width, no word may
        // be wider than the control.
        for (size_t start = 0; start < text.size();) {
            const size_t end = std::min(text.find_first_of(L" \r\n", start), text.size());
            RECT word = {0, 0, width, 0};
            ::DrawTextW(dc, text.c_str() + start, static_cast<int>(end - start), &word, format | DT_SINGLELINE);
            if (word.right > width) check->faults.push_back(Describe(control, L"word cut off", has, word));
            start = end + 1;
        }
        needs = RECT{0, 0, width, 0};
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needs, format | DT_WORDBREAK);
        needs.right = std::min<LONG>(needs.right, width);
    }
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    needs.right += 2 * edge + box + imageWidth;
    needs.bottom += 2 * edge + imageHeight;
    if (needs.right > has.right || needs.bottom > has.bottom) {
        check->faults.push_back(Describe(control, L"text cut off", has, needs));
    }

    RECT placed, room;
    HWND parent = ::GetParent(control);
    ::GetWindowRect(control, &placed);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&placed), 2);
    ::GetClientRect(parent, &room);
    if (placed.right > room.right || placed.bottom > room.bottom) {
        check->faults.push_back(Describe(control, L"reaches outside its parent", room, placed));
    }
    return TRUE;
}

}  // namespace

std::vector<std::wstring> TextThatCannotBeRead(HWND window, int dpi) {
    TextControls check{window, dpi, {}, nullptr};
    ::EnumChildWindows(window, &CheckTextControl, reinterpret_cast<LPARAM>(&check));
    // Colours of a window's own making pass in one scheme and fail in another.
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    ScopedSystemColours scheme({COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT},
                               {black, white, black, white});
    check.scheme = L"white on black: ";
    ::EnumChildWindows(window, &CheckTextControl, reinterpret_cast<LPARAM>(&check));
    return check.faults;
}

ScopedSystemColours::ScopedSystemColours(std::vector<int> elements, std::vector<COLORREF> colours)
    : elements_(std::move(elements)) {
    for (int element : elements_) before_.push_back(::GetSysColor(element));
    ::SetSysColors(static_cast<int>(elements_.size()), elements_.data(), colours.data());
}

ScopedSystemColours::~ScopedSystemColours() {
    ::SetSysColors(static_cast<int>(elements_.size()), elements_.data(), before_.data());
}

void SendDpiChange(HWND window, int dpi) {
    RECT now;
    ::GetWindowRect(window, &now);
    // The system suggests the same place scaled; the form picks its own size.
    RECT suggested = {now.left, now.top, now.left + (now.right - now.left) * 3 / 2,
                      now.top + (now.bottom - now.top) * 3 / 2};
    ::SendMessageW(window, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

std::wstring QuickVerifier(const std::wstring& password) {
    vaultmere::SystemPasswordHash hash;
    return vaultmere::MakePasswordVerifier(hash, password, 1000);
}

bool VerifiesPassword(const std::wstring& stored, const std::wstring& password) {
    vaultmere::SystemPasswordHash hash;
    return vaultmere::KindOfStoredPassword(stored) == vaultmere::StoredPassword::Verifier &&
           vaultmere::PasswordMatches(hash, password, stored);
}

void ProgramBook::Begin(const std::vector<std::wstring>& items, const std::wstring& password) {
    if (!items.empty()) Registry::SaveStoredItems(keys.root, keys.filesKeyPath, items);
    if (!password.empty()) {
        Registry::SetRegistryValue(keys.root, keys.settingsKeyPath, Registry::kPasswordValueName,
                                   Registry::RegistryValue::FromText(QuickVerifier(password)));
    }
    book.Begin();
    book.CheckPassword(password);
    book.Reload();
}

}  // namespace testing_support
