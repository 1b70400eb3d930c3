#pragma once
// The drive, folder and file lists of a folder chooser as plain state: what
// each list holds for a path and which index means what. The disk is read
// through FolderSource; the chooser windows only show this state.
// No Windows headers.
#include <string>
#include <vector>

namespace vaultmere {

enum class DriveKind { Unknown, Removable, Fixed, Remote, CdRom, RamDisk };

struct DriveEntry {
    wchar_t letter = L'\0';
    DriveKind kind = DriveKind::Unknown;
    std::wstring label;  // "" when the drive has none or it was not read
};

// What a drive letter stands for, as the system tells it.
struct DriveFacts {
    DriveKind kind = DriveKind::Unknown;
    // The device the letter names: a volume ("\Device\HarddiskVolume2"), or
    // for a letter made with subst the folder it stands for ("\??\C:\Data");
    // "" when the system does not say.
    std::wstring device;
};

struct FolderContents {
    std::vector<std::wstring> folders;  // names, "." and ".." left out
    std::vector<std::wstring> files;
};

// Where the lists get their drives and folders from.
class FolderSource {
public:
    virtual ~FolderSource() = default;
    // The drives of the machine, any order.
    virtual std::vector<DriveEntry> Drives() = 0;
    // The absolute, normalised folder a path names (see NormalizeFolderPath);
    // a bare drive such as "d:" names that drive's current folder. false
    // when the path cannot be made absolute. The disk need not be touched.
    virtual bool ResolveFolder(const std::wstring& path, std::wstring& folder) = 0;
    // The entries directly in an absolute folder whose names match pattern.
    // false when the folder cannot be read (missing, denied, drive not
    // ready); contents are then unspecified.
    virtual bool ReadFolder(const std::wstring& folder, const std::wstring& pattern, FolderContents& contents) = 0;
    // What a drive letter stands for.
    virtual DriveFacts DriveFactsOf(wchar_t letter) = 0;
};

// The folders from the root down to a normalised folder, each as a full path:
// c:\a\b gives c:\, c:\a, c:\a\b.
std::vector<std::wstring> FolderChain(const std::wstring& folder);

// Sorts names as a file list shows them: without regard to case.
void SortNames(std::vector<std::wstring>& names);

// Outcome of giving a list a new path.
enum class PathChange {
    Failed,   // the folder could not be read; the list is as it was
    Same,     // the same folder, read again
    Changed,  // another folder
};

// One entry per drive; at most one selected.
class DriveList {
public:
    explicit DriveList(FolderSource& source) : source_(&source) {}

    // Reads the drives again, in letter order; the selected drive stays
    // selected while it is there.
    void Refresh();

    int ListCount() const { return static_cast<int>(drives_.size()); }
    // "c: [label]", or "c:" for a drive without a label; "" out of range.
    std::wstring List(int index) const;
    const DriveEntry& Entry(int index) const { return drives_.at(static_cast<size_t>(index)); }

    // -1 when no drive is selected; an index out of range selects none.
    int ListIndex() const { return listIndex_; }
    void SetListIndex(int index);

    // The selected drive as a folder path the folder list accepts ("c:"),
    // "" when none is selected.
    std::wstring Drive() const;
    // Selects the drive a path starts with ("c:", "C:\Data"); false, and the
    // selection unchanged, when the path names no listed drive.
    bool SetDrive(const std::wstring& path);

private:
    FolderSource* source_;
    std::vector<DriveEntry> drives_;
    int listIndex_ = -1;
};

// The current folder, the folders above it up to the root and the folders
// in it. Indices: -1 is the current folder, -2, -3, ... the folders above
// it going up, 0 to ListCount() - 1 its subfolders in name order.
class FolderList {
public:
    explicit FolderList(FolderSource& source) : source_(&source) {}

    const std::wstring& Path() const { return path_; }
    // Reads the folder a path names; the selection goes to the current folder.
    PathChange SetPath(const std::wstring& path);

    int ListCount() const { return static_cast<int>(subfolders_.size()); }
    // Entries for the current folder and those above it: List(-PathDepth())
    // is the root.
    int PathDepth() const { return static_cast<int>(chain_.size()); }
    // Full path of an entry; "" out of range.
    std::wstring List(int index) const;
    // What the entry shows: the root as written ("c:\"), else the folder name.
    std::wstring Name(int index) const;
    bool IsValidIndex(int index) const { return index >= -PathDepth() && index < ListCount() && PathDepth() > 0; }

    int ListIndex() const { return listIndex_; }
    // An index out of range leaves the selection where it is.
    void SetListIndex(int index);

    // Counts successful reads, so that a view knows when to fill itself again.
    unsigned Generation() const { return generation_; }

    // The names of the files the last successful read met, handed over
    // once: a file list of the same folder can take them right after the
    // read instead of reading the folder again.
    bool TakeFiles(std::vector<std::wstring>& files);

private:
    FolderSource* source_;
    std::wstring path_;
    std::vector<std::wstring> chain_;
    std::vector<std::wstring> subfolders_;
    std::vector<std::wstring> files_;
    bool filesTaken_ = true;
    int listIndex_ = -1;
    unsigned generation_ = 0;
};

// The names of the files in one folder that match a pattern, hidden and
// system files included, in name order.
class FileList {
public:
    explicit FileList(FolderSource& source) : source_(&source) {}

    const std::wstring& Path() const { return path_; }
    // false, and the list as it was, when the folder cannot be read.
    bool SetPath(const std::wstring& path);
    // Shows no files for a folder that could not be read.
    void SetEmpty(const std::wstring& path);
    // Whether the pattern lets every file name through ("*.*", "*").
    bool MatchesEveryName() const { return pattern_ == L"*.*" || pattern_ == L"*"; }
    // Shows files already read from folder path; only for a pattern that
    // matches every name.
    void SetFiles(const std::wstring& path, std::vector<std::wstring> files);

    const std::wstring& Pattern() const { return pattern_; }
    void SetPattern(const std::wstring& pattern) { pattern_ = pattern; }

    int ListCount() const { return static_cast<int>(files_.size()); }
    // "" out of range.
    std::wstring List(int index) const;
    const std::vector<std::wstring>& Entries() const { return files_; }

    unsigned Generation() const { return generation_; }

private:
    FolderSource* source_;
    std::wstring path_;
    std::wstring pattern_ = L"*.*";
    std::vector<std::wstring> files_;
    unsigned generation_ = 0;
};

}  // namespace vaultmere
