#pragma once
// Where a folder chosen on a drive letter really lies. A letter made with
// subst, or a network drive, belongs to the user's own sign-in: the locker at
// the next logon, and the guard service at any time, may not see it. So a
// subst folder is locked by the folder it stands for, and a folder on a
// network drive is refused. No Windows headers.
#include <functional>
#include <string>

#include "forms/add/ChooserLists.h"

namespace vaultmere {

struct FolderReach {
    std::wstring folder;   // the folder to lock; "" when refused
    std::wstring refusal;  // why it cannot be locked, for the user
};

// folder is absolute and normalised (NormalizeFolderPath); factsOf tells
// what a drive letter (given lower-cased) stands for. Shares are given back as they are.
FolderReach ReachableFolder(const std::wstring& folder, const std::function<DriveFacts(wchar_t)>& factsOf);

}  // namespace vaultmere
