#pragma once
// No exception may leave our code for the system's: a window procedure, a
// thread's start routine, the service manager's callbacks. There it ends the
// process without a word, or unwinds through frames that cannot take it.
// Each entry point runs its work through RunGuarded and says what follows an
// escape: going on where the state stays sound (a window's message), ending
// the process where it may not (a thread that owns locks or the service's
// state; the service manager then restarts the guard).
#include <windows.h>

#include <exception>
#include <string>

namespace vaultmere {

enum class AfterEscape { GoOn, EndProcess };

// Where an escape is written: the debugger's output by default; the guard
// passes its event log.
using EscapeLog = void (*)(const std::wstring& text);
void LogToDebugger(const std::wstring& text);

// "<where>: <what>" for an escaped exception; what is "" for one that is not
// a std::exception.
std::wstring EscapeText(const wchar_t* where, const char* what);

// Ends this process at once with ERROR_UNHANDLED_EXCEPTION as its exit code:
// no destructor runs on state that may be broken.
[[noreturn]] void EndProcessAfterEscape();

template <typename Result, typename Body>
Result RunGuarded(const wchar_t* where, AfterEscape after, Result fallback, Body&& body,
                  EscapeLog log = &LogToDebugger) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        log(EscapeText(where, error.what()));
    } catch (...) {
        log(EscapeText(where, ""));
    }
    if (after == AfterEscape::EndProcess) EndProcessAfterEscape();
    return fallback;
}

}  // namespace vaultmere
