#include "locker/SystemFolders.h"

#include <windows.h>

#include "locker/ItemPath.h"

namespace vaultmere {

std::vector<std::wstring> SystemFolders() {
    std::vector<std::wstring> folders;
    auto add = [&folders](UINT(WINAPI * query)(LPWSTR, UINT)) {
        wchar_t path[MAX_PATH + 1] = {};
        const UINT length = query(path, MAX_PATH + 1);
        if (length == 0 || length > MAX_PATH) return std::wstring();
        folders.push_back(path);
        return folders.back();
    };
    // The shared Windows folder and the user's own differ on terminal servers.
    const std::wstring windows = add(&::GetSystemWindowsDirectoryW);
    add(&::GetWindowsDirectoryW);
    add(&::GetSystemDirectoryW);
    if (!windows.empty()) {
        for (const wchar_t* name : {L"System32", L"SysWOW64", L"Sysnative"}) folders.push_back(JoinPath(windows, name));
    }
    return folders;
}

}  // namespace vaultmere
