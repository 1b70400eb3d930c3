#pragma once
// Whether the one who asks may lock an item a window names, and which folder
// exactly: the one rule for the guard (asking with its client's token) and
// for a copy of the program with no guard (asking as its own user). The
// facts come from the disk through an AdmissionProbe; the decisions here
// need no Windows headers.
#include <cstddef>
#include <optional>
#include <string>

#include "locker/ItemLocker.h"

namespace vaultmere {

// Whether the asker may do something to a file or folder, as Windows would decide it.
enum class FolderAccess {
    Granted,
    Denied,
    Missing,  // not there
    Unknown,  // no asker, or its security could not be read
};

// What a tree holds, as the asker sees it: its files and subfolders counted
// until past the limit, the count stopping at the first the asker may not open.
struct TreeAccess {
    std::size_t entries = 0;
    bool mayListAll = true;
    bool mayReadAll = true;
};

// The disk as one asker sees it, for one item's folder: opened once, with no
// link followed, and every later answer taken from that handle.
class AdmissionProbe {
public:
    enum class Opening { Opened, Gone, Failed };
    virtual ~AdmissionProbe() = default;
    virtual Opening Open(const std::wstring& folder) = 0;
    // The lock rule on the folder's identity, or on its name where it could not be opened.
    virtual bool RuleAllows(bool withSubfolders) = 0;
    // Whether the folder holds the program file, in any case.
    virtual bool HoldsProgramFile() = 0;
    // Whether the folder opened is the one named, with no link on the way or at its end.
    virtual bool ReachedWithoutLinks() = 0;
    // Whether there is someone to check access for.
    virtual bool KnowsAsker() const = 0;
    virtual FolderAccess MayList() = 0;
    // The folder's identity; its fileId is 0 when the system gives none.
    virtual ApprovedFolder Identity() = 0;
    // Whether the asker may read every file directly in the folder that a
    // plain item's name covers (one file, or a pattern).
    virtual bool MayReadFiles(const std::wstring& name) = 0;
    virtual TreeAccess ScanTree(std::size_t most) = 0;
};

// How one asker locks.
struct AdmissionWay {
    // A share is opened with the locker's own rights: only one that locks
    // as the asking user may take one.
    bool sharesAllowed = false;
    // Files and subfolders one tree may hold. Without it the folder alone
    // is judged and what it holds is left to whoever locks (an early answer).
    std::optional<std::size_t> treeLimit;
};

struct AdmissionVerdict {
    std::wstring refusal;     // what the user is told; "" to accept
    ApprovedFolder approved;  // for an accepted folder: the one checked
};

AdmissionVerdict Admit(const std::wstring& path, const AdmissionWay& way, AdmissionProbe& probe);

// What the user is told when access to the folder is not granted; "" for Granted.
std::wstring FolderAccessRefusal(FolderAccess access);

}  // namespace vaultmere
