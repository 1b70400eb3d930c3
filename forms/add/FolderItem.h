#pragma once
// What Lock Folder adds: the folder item a folder stands for on the lists,
// and the confirmation the dialog shows. No Windows headers.
#include <string>

namespace vaultmere {

// The folder path, one backslash, "*.*", all lower-cased: C:\Data\Private
// gives c:\data\private\*.* and D:\ gives d:\*.*. With its subfolders, the
// folder path, "\**\*.*": c:\data\private\**\*.*.
std::wstring FolderItem(const std::wstring& folderPath, bool withSubfolders = false);

// The note that replaces the dialog's design-time text after a folder is added.
std::wstring LockConfirmation(const std::wstring& folderItem, bool withSubfolders = false);

}  // namespace vaultmere
