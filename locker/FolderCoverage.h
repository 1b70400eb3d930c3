#pragma once
// What a lane's listing, looks and retries agree on, and the admission of
// a folder with them: which files a job's patterns cover, and why a folder
// could not be opened.
#include <windows.h>

#include <string>

#include "locker/FolderJob.h"

namespace vaultmere {

// Folder items leave these alone: subfolders, hidden files (the user-facing
// texts promise they stay open) and devices.
constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE;

// Whether a folder item's wildcard covers a file listed with these
// attributes: none of the above, and no link. A name given on its own
// covers its file whatever they are.
inline bool WildcardCovers(DWORD attributes) { return !(attributes & (kNotLocked | FILE_ATTRIBUTE_REPARSE_POINT)); }

// Whether the job's wildcard patterns cover a listed file: one that is not
// hidden (nor a link, which never comes here).
bool CoveredByWildcard(const FolderJob& job, const std::wstring& lower, DWORD attributes);
// Whether the job's patterns cover a file: a name given on its own whatever
// its attributes, else as a wildcard covers it.
bool Covered(const FolderJob& job, const std::wstring& lower, DWORD attributes);
// Why a folder could not be opened: gone from a drive or share that is
// there, or the drive or share itself cannot be asked.
ItemStatus::Folder PresenceAfter(DWORD error, const std::wstring& path);

}  // namespace vaultmere
