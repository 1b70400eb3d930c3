// vaultmere.exe, the command line: the console around CommandRun.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/GuardConnection.h"
#include "cli/CommandRun.h"
#include "common/AppState.h"
#include "common/EntryPoint.h"
#include "common/SecureText.h"
#include "forms/add/Win32FolderSource.h"
#include "forms/config/UntilText.h"
#include "locker/DiskAdmission.h"

namespace vaultmere {

namespace {

constexpr wchar_t kGuardNotInstalled[] =
    L"Vaultmere Guard is not installed here: the command line works only where the setup or the package installed "
    L"Vaultmere.";

bool IsConsole(HANDLE handle, DWORD& mode) { return handle && ::GetConsoleMode(handle, &mode); }

// Text to a console as it is; to a file or a pipe in UTF-8, lines ending in CR LF.
void Write(DWORD which, const std::wstring& text) {
    const HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    DWORD written = 0;
    if (IsConsole(handle, mode)) {
        // A console takes a few thousand characters a call at most.
        for (std::size_t done = 0; done < text.size(); done += 4096) {
            const auto count = static_cast<DWORD>(std::min<std::size_t>(4096, text.size() - done));
            if (!::WriteConsoleW(handle, text.data() + done, count, &written, nullptr)) return;
        }
        return;
    }
    std::wstring lines;
    for (const wchar_t ch : text) {
        if (ch == L'\n') lines += L'\r';
        lines += ch;
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, lines.data(), static_cast<int>(lines.size()), &bytes[0], size, nullptr, nullptr);
    // Nothing to do when the output is closed: the exit code still says how it went.
    ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One line of a console, without its line end.
void ReadConsoleLine(HANDLE input, std::wstring& line) {
    wchar_t unit = 0;
    DWORD read = 0;
    while (::ReadConsoleW(input, &unit, 1, &read, nullptr) && read == 1 && unit != L'\n') {
        if (unit != L'\r') line += unit;
    }
    unit = 0;
}

// One line of a file or a pipe, in UTF-8, without its line end; nothing
// more is read. Standard input that ends at once is an empty line.
void ReadLine(HANDLE input, std::wstring& line) {
    std::string bytes;
    char byte = 0;
    DWORD read = 0;
    while (::ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n') {
        if (byte != '\r') bytes += byte;
    }
    if (!bytes.empty()) {
        const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        line.assign(static_cast<std::size_t>(std::max(size, 0)), L'\0');
        if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &line[0], size);
    }
    WipeBytes(bytes);
    byte = 0;
}

class WindowsConsole final : public CommandConsole {
public:
    bool ReadPassword(bool fromStandardInput, std::wstring& password) override {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        const bool console = IsConsole(input, mode);
        if (!console) {
            if (!fromStandardInput || !input || input == INVALID_HANDLE_VALUE) return false;
            ReadLine(input, password);
            return true;
        }
        if (!fromStandardInput) {
            Write(STD_ERROR_HANDLE, L"Password: ");
            ::SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
        }
        ReadConsoleLine(input, password);
        ::SetConsoleMode(input, mode);
        if (!fromStandardInput) Write(STD_ERROR_HANDLE, L"\n");
        return true;
    }
    void Print(const std::wstring& text) override { Write(STD_OUTPUT_HANDLE, text); }
    void PrintError(const std::wstring& text) override { Write(STD_ERROR_HANDLE, text); }
    std::wstring UntilText(std::uint64_t relockAt) override { return vaultmere::UntilText(relockAt); }
};

ExitCode Run(const std::vector<std::wstring>& arguments) {
    WindowsConsole console;
    CommandLine command;
    std::wstring error;
    if (!ParseCommandLine(arguments, command, error)) {
        console.PrintError(error + L"\n\n" + kUsageText);
        return ExitCode::Usage;
    }
    // Whether the guard is there is the service manager's word, as for the window.
    if (command.command != CommandLine::Command::Help && !IsServiceInstalled(kGuardServiceName)) {
        console.PrintError(std::wstring(kGuardNotInstalled) + L"\n");
        return ExitCode::NoGuard;
    }
    GuardConnection::Setup setup;
    // A guard that does not run now is said to be so at once: nothing waits for it.
    setup.startWaitMs = 0;
    GuardConnection link(setup);
    Win32FolderSource disks;
    // The guard answers for the folder's contents once the password is given.
    const auto earlyRefusal = [](const std::wstring& item) { return AdmitForOwnUser(item, AdmissionWay{}).refusal; };
    return CommandRun(link, disks, console, earlyRefusal).Run(command);
}

}  // namespace

}  // namespace vaultmere

int wmain(int argc, wchar_t** argv) {
    // Whatever is loaded from here on comes from the system folder, never
    // from the program's own folder or the current one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    using vaultmere::ExitCode;
    return vaultmere::RunGuarded(
        L"vaultmere", vaultmere::AfterEscape::GoOn, static_cast<int>(ExitCode::Failed),
        [argc, argv] { return static_cast<int>(vaultmere::Run(std::vector<std::wstring>(argv + 1, argv + argc))); },
        [](const std::wstring& text) { vaultmere::Write(STD_ERROR_HANDLE, text + L"\n"); });
}
