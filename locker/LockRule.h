#pragma once
// What may be locked: nothing that is, lies inside or (with its subfolders)
// holds the Windows folder or the program's own folder. Decided on the
// identity of a folder held open, so a name that leads elsewhere (a
// junction, a mount point, a short name) counts as where it leads. The
// locker, the add dialog and the guard all ask this.
#include <windows.h>

#include <string>
#include <vector>

#include "locker/FolderHandles.h"

namespace vaultmere {

// The Windows folders and the running program's own folder.
std::vector<std::wstring> ProtectedFolders();

class LockRule {
public:
    // ProtectedFolders(), read once.
    LockRule();
    explicit LockRule(const std::vector<std::wstring>& protectedFolders);

    // A folder an item names itself, reached however the user chose.
    // Without a final path nothing is allowed. A share of this computer
    // (\\localhost\c$\...) is judged as the folder it leads to, and
    // refused when where it leads cannot be told.
    bool Allows(const FolderIdentity& folder, bool withSubfolders) const;
    // A subfolder reached from an allowed folder without following links:
    // only the folders themselves are left to compare.
    bool IsProtected(const FolderIdentity& folder) const;
    // Opens folder (following the links on its way) and asks Allows.
    bool AllowsFolder(const std::wstring& folder, bool withSubfolders) const;

private:
    std::vector<FolderIdentity> protected_;
};

// Opens an item's own folder to pin it: listable, not deletable or
// renamable by others while held, overlapped for its watch.
UniqueHandle PinFolder(const std::wstring& extendedPath);

}  // namespace vaultmere
