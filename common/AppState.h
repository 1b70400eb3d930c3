#pragma once
#include <string>

namespace vaultmere {

// The process-wide state, held for the life of the process.
struct AppState {
    // The folder of the program's own executable with "\" appended.
    std::wstring applicationFolder;
    // The password last accepted or set while Remember was ticked: what the
    // prompt fills in again; "" otherwise.
    std::wstring storedPassword;
    // Whether the prompt pre-fills the stored password (never stored).
    bool rememberFlag = false;
};

// What the prompt says when the stored password is text that no entry can
// match: longer than the prompt takes, or with capital letters.
constexpr wchar_t kPasswordUntypable[] = L"The stored password cannot be typed here. Ask an administrator.";
// What the prompt says when the stored password cannot be read.
constexpr wchar_t kPasswordUnreadable[] =
    L"The stored password cannot be read, so none is taken. Ask an administrator.";

// The two window titles through which copies of the program find each other.
constexpr wchar_t kResidentMarkerTitle[] = L"Vaultmere ";
constexpr wchar_t kShowRequestTitle[] = L"Vaultmere";
constexpr wchar_t kProgramFileName[] = L"brwaddon.exe";
// The named mutex the resident copy holds; names under "Local\" are
// the session's own.
constexpr wchar_t kResidentMutexName[] = L"Local\\Vaultmere.Resident";

#ifdef _WIN32
// The full path of this program's executable, however long; "" when the
// system cannot say.
std::wstring ProgramPath();
// The folder of this program's executable: no trailing backslash except
// for a drive root; "" when the system cannot say.
std::wstring ProgramFolder();
#endif

}  // namespace vaultmere
