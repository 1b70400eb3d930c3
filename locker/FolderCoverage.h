#pragma once
// What a lane's listing, looks and retries agree on: which files a job's
// patterns cover, and why a folder could not be opened. For FolderLane's
// files only.
#include <windows.h>

#include <string>

#include "locker/FolderJob.h"

namespace vaultmere {

// Folder items leave these alone: subfolders, hidden files (the user-facing
// texts promise they stay open) and devices.
constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE;

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
