#pragma once
// What passes between the component's state and its lanes, as plain data:
// the work planned on one folder, the files a lane found, the changes a
// folder's watch reported. Handles travel as FileTokens and errors as the
// kinds the state tells apart, so that the state builds without Windows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "locker/FileToken.h"
#include "locker/ItemLocker.h"

namespace vaultmere {

struct LockerReport {
    std::size_t items = 0;           // distinct items locked
    std::size_t lockedFiles = 0;     // file handles held
    std::size_t pendingFiles = 0;    // files waiting for a retry
    std::size_t folders = 0;         // distinct folders of the locked items, subfolders of trees too
    std::size_t watchedFolders = 0;  // of those, pinned and watched now
    std::size_t watchOverflows = 0;  // times a watch lost count and its folder was listed again
};

// A file name pattern of a folder's items ("*.*", "*.txt") or a plain name.
struct FolderPattern {
    std::wstring name;  // as given, for listing and opening
    std::wstring lower;
    bool wildcard = false;
    bool namesFolder = false;  // a plain name found to be a folder
    std::wstring tree;         // for "*.*" of a folder locked with its subfolders: that top folder's key
};

// Why a file would not open, as far as the state tells causes apart.
enum class FileError {
    None,
    InUse,        // another program has it open without sharing
    RangeLocked,  // another program locked part of it
    Denied,       // this account may not read it
    Gone,         // no such file (or folder on its path) any more
    Other,
};

// One file as a lane found it: opened, or why not.
struct FileOutcome {
    std::wstring name;  // as the folder lists it
    std::wstring lower;
    FileToken file;
    FileError error = FileError::None;
    // Unique on the folder's volume: read from the handle, or for a file
    // that would not open, from the listing (0 when unknown).
    std::int64_t fileId = 0;
    bool linkedElsewhere = false;  // opened, and let go: a name of it lies where nothing is locked
};

// What a folder's watch saw happen to a name.
enum class ChangeAction { Added, Removed, Modified, RenamedOldName, RenamedNewName, Other };

// A change a folder's watch reported.
struct FolderChange {
    ChangeAction action = ChangeAction::Other;
    std::wstring name;
    std::wstring lower;
};

// Work on one folder, planned under the mutex and done by its lane outside it.
struct FolderJob {
    std::wstring folderKey;
    std::uint64_t serial = 0;
    std::wstring path;  // extended-length
    std::vector<FolderPattern> patterns;
    bool watch = false;                      // pin and watch the folder, then list it
    bool scan = false;                       // list every pattern, open what is neither held nor waiting
    std::unordered_set<std::wstring> known;  // held or waiting, when listing again
    std::vector<std::wstring> look;          // names the watch saw appear or change
    std::vector<std::pair<std::wstring, std::wstring>> due;   // waiting files to try again: name, lower
    std::vector<std::pair<std::wstring, std::wstring>> left;  // held files the watch saw leave or change
    bool tree = false;                                        // within a tree: subfolders are entered
    std::uint32_t watchBytes = 0;                             // the watch's buffer
    // An item names this folder itself: reached however the user chose and
    // judged whole by the rule (topTree: with its subfolders). Otherwise a
    // tree's subfolder, opened from its parent's handle as listedId was listed.
    bool top = false;
    bool topTree = false;
    std::int64_t listedId = 0;
    // Subfolders (lower-cased) a full tree turned away, to be counted with
    // everything beneath them, countMost entries at most in all.
    std::vector<std::wstring> count;
    std::size_t countMost = 0;

    // The lane's findings.
    std::wstring volume;  // the root of the folder's final path, once pinned
    bool presenceKnown = false;
    ItemStatus::Folder presence = ItemStatus::Folder::Present;
    bool refused = false;     // the rule refuses the folder, or a link stands in its place
    bool redirected = false;  // refused: a link on its path, or not the folder approved
    ApprovedFolder approved;  // what a check approved in its place, if one did
    bool abandoned = false;   // unlocked while the lane worked on it
    std::size_t links = 0;    // of a full listing, entries that are links: left alone
    bool watching = false;
    std::vector<FileOutcome> files;
    std::vector<std::wstring> folderNames;  // plain patterns (lower-cased) that name a folder
    std::vector<std::wstring> gone;         // held files gone or no longer covered: let go
    struct Subfolder {
        std::wstring name;
        std::wstring lower;
        std::int64_t fileId = 0;
    };
    std::vector<Subfolder> subfolders;  // to enter, for a tree
    std::vector<std::size_t> counted;   // for each of count: the files and subfolders beneath it
};

}  // namespace vaultmere
