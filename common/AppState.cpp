#include "common/AppState.h"

#include <windows.h>

namespace vaultmere {

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ProgramFolder() {
    std::wstring folder = ProgramPath();
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    folder.resize(slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

}  // namespace vaultmere
