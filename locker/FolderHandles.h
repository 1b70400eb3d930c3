#pragma once
// Files and folders reached through a folder handle held open, never by a
// name looked up again: a name swapped for a link after it was listed
// cannot redirect an open made here.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

namespace vaultmere {

// One entry of a folder as its listing gives it.
struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
    std::int64_t fileId = 0;
};

// Opens name in folder (a handle) as NtCreateFile does with a root
// directory: a reparse point is opened itself, never followed; options are
// NtCreateFile's create options. On failure the last error says why.
UniqueHandle OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG options);
// The folder itself again, for synchronous listing.
UniqueHandle ReopenForListing(HANDLE folder);
// Lists a folder opened by ReopenForListing, "." and ".." left out; mask
// (one name, or "" for all) is honoured on a fresh handle only. each
// returns false to stop. Returns ERROR_SUCCESS once every entry was given,
// or the error that ended the listing.
DWORD ListFolder(HANDLE folder, const std::wstring& mask, const std::function<bool(const FolderEntry&)>& each);
// The one entry name in folder (any handle on it), under its long name when
// name is its short one; false when it is not there.
bool FindEntry(HANDLE folder, const std::wstring& name, FolderEntry& entry);
// The ids of the folders holding each name of an open file (hard links),
// on its volume; false when the system cannot list them.
bool LinkParents(HANDLE file, std::vector<std::int64_t>& parents);
// How many names an open file has (hard links); 0 when unknown.
DWORD LinkCountOf(HANDLE file);
// The file system's number for an open file or folder; 0 when unknown.
std::int64_t FileIdOf(HANDLE file);
// The serial number of the volume a file or folder lies on; 0 when it
// cannot be read. It costs a look at the volume each time (a third of a
// millisecond under Wine): read only where ids must be told apart.
std::uint32_t VolumeSerialOf(HANDLE handle);

// Where a folder held open is: its file id, unique on its volume, and that
// volume's serial number (0 when not read: then the id is taken as on any
// volume), so that the folder is known by whatever path reached it; its
// final path (the parsed form of ItemPath, lower-cased; "" when it could
// not be read); its attributes.
struct FolderIdentity {
    DWORD attributes = 0;
    std::int64_t fileId = 0;
    std::uint32_t volume = 0;
    std::wstring path;
};
// drive ("c:"), when given, is the drive the folder was opened on. The
// path is read only withPath; the volume never (VolumeSerialOf).
bool ReadIdentity(HANDLE folder, bool withPath, FolderIdentity& identity, const std::wstring& drive = std::wstring());
// Whether a folder held open is the one path names with no link on the
// way: its final path is path but for case and short names, once the
// path's drive or share is taken as where it really is (a subst or mapped
// drive leads where it always did). path: the parsed form of ItemPath.
bool ReachedWithoutLinks(const std::wstring& path, const FolderIdentity& opened);
// The final path of an open file or folder as the system gives it
// (\\?\c:\...); "" when it cannot say.
std::wstring FinalPathOf(HANDLE handle);
// The drive ("c:") of a path, plain or extended-length; "" for a share.
std::wstring DriveOf(const std::wstring& path);

}  // namespace vaultmere
