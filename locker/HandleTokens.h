#pragma once
// Between the handles the lanes open and the tokens LockerState holds:
// a handle becomes a token when it is handed in, and a token let go becomes
// a handle again to be closed, outside the component's mutex.
#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/FileToken.h"
#include "locker/FolderJob.h"

namespace vaultmere {

inline FileToken TokenOf(UniqueHandle file) {
    return file ? FileToken(reinterpret_cast<std::uintptr_t>(file.Release())) : FileToken();
}
inline UniqueHandle HandleOf(FileToken token) { return UniqueHandle(reinterpret_cast<HANDLE>(token.Release())); }
// A token's handle, still owned by the state.
inline HANDLE PeekHandle(std::uintptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The files the state let go, closed by Close or at the latest when this
// goes, so that an exception between the two leaks none.
struct ReleasedFiles {
    std::vector<FileToken> tokens;

    ReleasedFiles() = default;
    ReleasedFiles(const ReleasedFiles&) = delete;
    ReleasedFiles& operator=(const ReleasedFiles&) = delete;
    ~ReleasedFiles() { Close(); }
    void Close() {
        for (FileToken& token : tokens) HandleOf(std::move(token));
        tokens.clear();
    }
};

// What the state makes of an open's error.
inline FileError FileErrorOf(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return FileError::None;
    case ERROR_SHARING_VIOLATION:
        return FileError::InUse;
    case ERROR_LOCK_VIOLATION:
        return FileError::RangeLocked;
    case ERROR_ACCESS_DENIED:
        return FileError::Denied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FileError::Gone;
    default:
        return FileError::Other;
    }
}

}  // namespace vaultmere
