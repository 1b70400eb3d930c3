#include "common/EntryPoint.h"

namespace vaultmere {

void LogToDebugger(const std::wstring& text) { ::OutputDebugStringW((L"Vaultmere: " + text + L"\n").c_str()); }

std::wstring EscapeText(const wchar_t* where, const char* what) {
    std::wstring text = std::wstring(where) + L": ";
    if (!what || !*what) return text + L"an unknown exception";
    // The text of a standard exception is narrow; shown as it is, byte for byte.
    for (const char* c = what; *c; ++c) text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return text;
}

void EndProcessAfterEscape() {
    // ERROR_UNHANDLED_EXCEPTION, which not every SDK's headers name.
    constexpr UINT kUnhandledException = 574;
    ::TerminateProcess(::GetCurrentProcess(), kUnhandledException);
    // TerminateProcess on the own process does not return; should it, nothing below may run.
    for (;;) ::Sleep(INFINITE);
}

}  // namespace vaultmere
