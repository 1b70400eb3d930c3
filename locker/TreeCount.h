#pragma once
// What locking a folder with its subfolders would hold: its files and
// subfolders at any depth that a tree covers and enters, reached through
// handles opened relative to their parents and never through a link.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace vaultmere {

// Whether a folder locked with its subfolders enters a subfolder listed
// with these attributes: not a hidden one, and no reparse point of any kind
// (a junction, a link, a mount point lead somewhere else).
bool TreeEnters(DWORD attributes);

// Asked about each file and subfolder (its path: the folder given, joined
// with the names beneath it) before it is counted; false stops the count.
using TreeEntryCheck = std::function<bool(const std::wstring& entry, bool isFolder)>;

// Counts beneath folder until past most: returns most + 1 once there are
// more, when mayTake said no, or when the nest is deeper than a count
// holds handles for. The folder itself is opened without following a link
// in its place; one that cannot be read, or is a link, counts as empty.
std::size_t CountTree(const std::wstring& folder, std::size_t most, const TreeEntryCheck& mayTake = nullptr);
// The same for the subfolder name of parent (a handle on a folder).
std::size_t CountTreeBeneath(HANDLE parent, const std::wstring& name, std::size_t most);

}  // namespace vaultmere
