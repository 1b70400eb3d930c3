#pragma once
// Deletes a folder and everything in it, read-only files too; for the tests
// and the benchmarks alike (header-only: the benchmarks link no test code).
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

namespace testing_support {

inline void DeleteTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    vaultmere::UniqueFindHandle search(::FindFirstFileW((path + L"\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link: what it leads to is not ours to delete.
                ::RemoveDirectoryW(child.c_str());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace testing_support
