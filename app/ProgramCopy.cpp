#include "app/ProgramCopy.h"

#include <windows.h>

#include "common/UniqueHandle.h"

namespace vaultmere {

namespace {

// The user's profile, where the add dialog of the copy opens; "" when it
// cannot be found, and the copy then starts in this copy's current folder.
std::wstring ProfileFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", &folder[0], static_cast<DWORD>(folder.size()));
        if (length == 0) return std::wstring();
        if (length < folder.size()) {
            folder.resize(length);
            break;
        }
        folder.resize(length);
    }
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return folder;
}

}  // namespace

bool StartProgramCopy(const std::wstring& exePath) {
    std::wstring commandLine = L"\"" + exePath + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION process{};
    const std::wstring folder = ProfileFolder();
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        return false;
    }
    const UniqueHandle thread(process.hThread);
    const UniqueHandle started(process.hProcess);
    return true;
}

}  // namespace vaultmere
