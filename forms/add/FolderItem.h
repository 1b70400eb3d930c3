#pragma once
// What Lock Folder adds: the folder item a folder stands for on the lists,
// the confirmation the dialog shows, and the check that keeps the program's
// own folder off the lists. No Windows headers.
#include <string>
#include <vector>

namespace vaultmere {

// The folder path, one backslash, "*.*", all lower-cased: C:\Data\Private
// gives c:\data\private\*.* and D:\ gives d:\*.*. With its subfolders, the
// folder path, "\**\*.*": c:\data\private\**\*.*.
std::wstring FolderItem(const std::wstring& folderPath, bool withSubfolders = false);

// The note that replaces the dialog's design-time text after a folder is added.
std::wstring LockConfirmation(const std::wstring& folderItem, bool withSubfolders = false);

// Whether a folder's file names include the program file. Windows compares
// file names without regard to case, so BRWADDON.EXE is the program too.
bool HoldsProgramFile(const std::vector<std::wstring>& fileNames);

}  // namespace vaultmere
