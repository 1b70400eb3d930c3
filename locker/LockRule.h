#pragma once
// What may be locked: nothing that is, lies inside or (with its subfolders)
// holds the Windows folder or the program's own folder. Decided on the
// identity of a folder held open, so a name that leads elsewhere (a
// junction, a mount point, a short name) counts as where it leads. The
// locker, the add dialog and the guard all ask this.
#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
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
    // Whether a protected folder has this id on some volume: only then
    // must the volume of a folder with it be read to tell them apart.
    bool MayBeProtected(std::int64_t fileId) const;
    // A subfolder reached from an allowed folder without following links:
    // only the folders themselves are left to compare.
    bool IsProtected(const FolderIdentity& folder) const;
    // A file held open that has more than one name (hard links): whether
    // every other name can be listed and none lies in a protected folder.
    // Where the names cannot be listed it may not be held: holding a
    // system file shut can stop Windows from starting programs.
    bool AllowsLinkedFile(HANDLE file) const;
    // Opens folder (following the links on its way) and asks Allows.
    bool AllowsFolder(const std::wstring& folder, bool withSubfolders) const;

private:
    // Whether a file is one of those beneath the protected folders, by its
    // volume and id: for a file whose names cannot be listed.
    bool IsProtectedFile(HANDLE file) const;
    static BOOL CALLBACK IndexProtectedFiles(PINIT_ONCE once, PVOID self, PVOID* context);

    std::vector<FolderIdentity> protected_;
    // The ids of the files beneath the protected folders, by volume serial
    // number: listed once, the first time they are asked for.
    mutable INIT_ONCE indexed_ = INIT_ONCE_STATIC_INIT;
    mutable std::unordered_map<DWORD, std::unordered_set<std::int64_t>> protectedFiles_;
};

}  // namespace vaultmere
