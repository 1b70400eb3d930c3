#pragma once
// What an item path stands for, decided without touching the disk.
#include <string>
#include <vector>

namespace vaultmere {

struct ItemTarget {
    enum class Kind {
        Refused,  // empty, relative, a device or raw path, or too long
        Pattern,  // the files directly in folder that match name (c:\data\*.*)
        File,     // the one file folder\name
    };
    Kind kind = Kind::Refused;
    // Absolute, backslashes only, "." and ".." resolved; a drive root keeps
    // its backslash ("c:\"), a share root has none ("\\server\share").
    std::wstring folder;
    std::wstring name;
};

// Longest path the component accepts; the \\?\ form allows 32,767.
constexpr std::size_t kMaxItemPathLength = 32000;

// What a path names read as a plain folder item: the tree form below reads
// as a folder named "**", which no folder can be, so nothing.
ItemTarget ParseItemPath(const std::wstring& path);

// A folder with everything beneath it is stored as the folder, "\**\*.*":
// d:\private\**\*.*. Older readers of the stored list take it for a folder
// named "**" and lock nothing of it.
constexpr wchar_t kTreeMarker[] = L"**";
std::wstring TreeItem(const std::wstring& folder);

// The form of a path the file functions take without length limit and
// without treating names such as CON as devices: \\?\c:\... or \\?\UNC\....
std::wstring ExtendedLengthPath(const std::wstring& absolutePath);

// A drive letter, a to z in either case, and the same in lower case.
bool IsDriveLetter(wchar_t ch);
wchar_t LowerDriveLetter(wchar_t ch);

// Splits an absolute path into its root ("c:\", "\\server\share") and what
// follows it; false when it has neither root (relative, device or \\?\ forms).
bool SplitRoot(const std::wstring& path, std::wstring& root, std::wstring& rest);
// The names below a root, "." and ".." resolved and empty ones dropped.
std::vector<std::wstring> FolderComponents(const std::wstring& rest);

// \\?\c:\... as c:\... and \\?\UNC\server\... as \\server\...; any other
// path as it is.
std::wstring WithoutExtendedPrefix(const std::wstring& path);

// An absolute folder path with backslashes only, "." and ".." resolved and
// no trailing backslash, except that a drive root keeps its one ("c:\") and
// a share root has none ("\\server\share"). The \\?\ forms are accepted and
// given back without the prefix. "" when path is not absolute.
std::wstring NormalizeFolderPath(const std::wstring& path);

// The lane a folder belongs to: its drive root ("\\?\c:\") or share
// ("\\?\unc\server\share\"), from its extended-length path.
std::wstring VolumeRoot(const std::wstring& extendedPath);

// folder and name joined by exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// An item as the component keeps it, parsed and lower-cased once where it
// comes in: paths compare without regard to case.
struct ItemKey {
    ItemTarget target;    // for a tree, the folder at its top and "*.*"
    std::wstring folder;  // target.folder lower-cased ("" when refused)
    std::wstring name;    // target.name lower-cased
    std::wstring key;     // the parsed path lower-cased (a tree's with \**), or the whole path when refused
    bool tree = false;    // the folder with every file and subfolder beneath it
};
ItemKey MakeItemKey(const std::wstring& path);

// Why a path locks nothing, as a note or an event tells it.
enum class ItemFault {
    None,
    NotFullPath,       // empty, relative, a device or raw path
    TooLong,           // longer than kMaxItemPathLength
    NamesNoFiles,      // ends in a backslash
    WildcardInFolder,  // * or ? in a folder's name, or ** anywhere but last
};
ItemFault FaultOfItem(const std::wstring& path);

// A value of the administrator's policy as an item: a plain folder path,
// with or without its trailing backslash, stands for the files in it
// (c:\data\*.*); the folder followed by \** for it with its subfolders
// (c:\data\**\*.*); a value in item form stays as it is. Decided without
// touching the disk, so a value naming a file is taken for a folder.
struct PolicyItem {
    std::wstring item;  // "" when fault says why there is none
    ItemFault fault = ItemFault::None;
};
PolicyItem ItemOfPolicyValue(const std::wstring& value);

// The folder above a folder in the parsed form (c:\ above c:\data); "" above a root.
std::wstring ParentFolder(const std::wstring& folder);

// Whether folder is within, or is, the folder top; both lower-cased and
// parsed as above.
bool FolderWithin(const std::wstring& folder, const std::wstring& top);

}  // namespace vaultmere
