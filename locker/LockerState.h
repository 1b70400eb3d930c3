#pragma once
// What the component holds, as plain data: the items, their folders, the
// files held and the files waiting. FileLocker changes it only under its
// mutex, and nothing here touches a disk or the network: the lanes
// (FolderLane) list, open and watch outside the mutex, doing the jobs
// planned here, and hand their results back here. Handles let go are handed
// out as tokens, to be closed once the mutex is released.
//
// Its jobs lie in files of their own: the items and their folders
// (LockerState.cpp), trees and the shares of the budget (LockerTrees.cpp,
// LockerShares.cpp, HandleAccounts), what the lanes hand back and the
// retries of waiting files (LockerFindings.cpp, RetryBackoff), the index
// of held ids (HeldIds), planning and status (LockerPlan.cpp).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/LockBudget.h"
#include "locker/FileToken.h"
#include "locker/FolderJob.h"
#include "locker/HandleAccounts.h"
#include "locker/HeldIds.h"
#include "locker/ItemLocker.h"
#include "locker/ItemPath.h"
#include "locker/RetryBackoff.h"

namespace vaultmere {

class LockerState {
public:
    // budget: the platform's default (PlatformLockBudget) but where the
    // caller read another.
    explicit LockerState(const LockBudget& budget) : treeLimit_(budget.treeLimit), accounts_(budget.handles) {}

    // Returns the root of the lane that has work now, or "".
    // approved: the folder a check approved for it, when one did.
    std::wstring Lock(const ItemKey& item, std::uint64_t now, const ApprovedFolder& approved = ApprovedFolder());
    // How many items have a share of the budget reserved: those listed,
    // locked or not. The items locked count at least.
    void SetItemsKnown(std::size_t items) { itemsKnown_ = items; }
    struct Unlocked {
        std::wstring root;                     // the root of the folder let go, or ""
        bool rootIdle = false;                 // no folder is left on that root
        std::vector<std::wstring> retryRoots;  // lanes with files to try again now that there is room
    };
    Unlocked Unlock(const std::wstring& key, std::vector<FileToken>& released);
    void ReleaseAll(std::vector<FileToken>& released);
    // Calls each with every file handle held; they stay open while the
    // caller holds the mutex.
    template <typename Each>
    void ForEachHeldFile(Each each) const {
        for (const auto& folder : folders_) {
            for (const auto& held : folder.second.held) each(held.second.file.Value());
        }
    }
    std::vector<ItemStatus> Status(const std::vector<std::wstring>& keys) const;
    LockerReport Report() const;
    // Every lock asked for has been listed and its folder watched, or found
    // missing.
    bool Settled() const;

    // For the lane of root: the next jobs, at most most; how long it may
    // sleep when there are none (kNoDeadline for no limit); the watches of
    // folders that went.
    std::vector<FolderJob> Plan(const std::wstring& root, std::uint64_t now, std::size_t most);
    static constexpr std::uint32_t kNoDeadline = 0xFFFFFFFF;
    std::uint32_t SleepFor(const std::wstring& root, std::uint64_t now) const;
    std::vector<std::uint64_t> TakeRetired(const std::wstring& root);
    void ForgetRoot(const std::wstring& root);

    void TakeJob(FolderJob& job, std::uint64_t now, std::vector<FileToken>& released);
    // Whether the folder of a job is still wanted.
    bool Wanted(const std::wstring& folderKey, std::uint64_t serial) const;
    // Part of a long listing, handed in before the rest: the files only.
    void TakeFiles(FolderJob& job, std::uint64_t now, std::vector<FileToken>& released);
    // Returns whether the folder has work now.
    bool TakeChanges(const std::wstring& folderKey, std::uint64_t serial, std::vector<FolderChange>& changes,
                     std::uint64_t now);
    // The watch lost count: the folder is listed again.
    bool TakeOverflow(const std::wstring& folderKey, std::uint64_t serial);
    // The watch failed; presence is what the lane found after.
    void TakeWatchLost(const std::wstring& folderKey, std::uint64_t serial, ItemStatus::Folder presence,
                       std::uint64_t now, std::vector<FileToken>& released);
    // After a lane's work: when files or folders let go made room, the
    // lanes that have what was turned away to try again.
    std::vector<std::wstring> RetryWhereRoomFreed();

private:
    using Failure = WaitingFile::Failure;
    using Waiting = WaitingFile;
    // Memory per locked file: the id in two halves needs no 8-byte
    // alignment, and a hasher of its own keeps GCC's table from storing
    // each name's hash beside it, so a held file's entry stays as large.
    struct HeldFile {
        FileToken file;
        std::uint32_t idLow = 0;
        std::uint32_t idHigh = 0;
        std::uint32_t order = 0;  // when it was held: a share taken back lets the latest go first
        std::int64_t Id() const { return static_cast<std::int64_t>((std::uint64_t{idHigh} << 32) | idLow); }
    };
    struct NameHash {
        std::size_t operator()(const std::wstring& name) const noexcept { return std::hash<std::wstring>()(name); }
    };
    using HeldMap = std::unordered_multimap<std::wstring, HeldFile, NameHash>;
    struct Folder {
        std::uint64_t serial = 0;
        std::wstring root;
        std::wstring path;
        std::vector<FolderPattern> patterns;
        // By lower-cased name; two files under one name are the two names
        // of a case-sensitive folder that differ in case only.
        HeldMap held;
        std::unordered_map<std::wstring, Waiting> waiting;
        ItemStatus::Folder presence = ItemStatus::Folder::Present;
        bool scanDue = true;
        bool watching = false;
        bool watchTried = false;
        bool queued = false;
        std::uint64_t watchDue = 0;
        std::vector<std::wstring> look;
        std::vector<std::pair<std::wstring, std::wstring>> left;
        std::size_t overflows = 0;
        std::unordered_set<std::wstring> turnedAway;       // files its trees or the budget had no room for
        std::unordered_set<std::wstring> linkedElsewhere;  // files left alone for another name they have
        std::int64_t listedId = 0;                         // a subfolder's, as its parent listed it
        bool refused = false;                              // by the rule, or a link in its place
        bool redirected = false;                           // a link on its own path, or not the folder approved
        ApprovedFolder approved;                           // the folder a check approved for its item
        std::size_t links = 0;                             // links its last listing left alone
        std::wstring volume;                               // its files' volume, from its first pin
        bool countDue = false;                             // it has subfolders turned away to count
        // Whose share its pin and files use: the folder's own plain items,
        // or else the first tree it belongs to. "" until it has a pattern.
        std::wstring account;
    };
    struct Item {
        std::wstring folderKey;  // "" when refused; a tree's top folder
        std::wstring pattern;    // lower-cased
        unsigned lockCount = 0;
        ItemStatus::Refusal refusal = ItemStatus::Refusal::None;
        bool tree = false;
    };
    // A folder locked with its subfolders: every folder of it is a Folder
    // holding the tree's pattern, and it may hold treeLimit_ entries.
    struct Tree {
        std::unordered_set<std::wstring> members;  // folder keys, the top's too
        std::size_t entries = 0;                   // files held and subfolders entered
        // Subfolders it had no room for, with the files and subfolders they
        // hold and themselves (0 until counted).
        std::unordered_map<std::wstring, std::size_t> foldersTurnedAway;
        std::size_t linksRefused = 0;  // subfolders found to be links when opened
    };
    struct Lane {
        std::deque<std::pair<std::wstring, std::uint64_t>> queue;  // folders with work, in order
        std::vector<std::uint64_t> retired;
        std::size_t folders = 0;
    };

    using FolderMap = std::unordered_map<std::wstring, Folder>;

    Folder* Find(const std::wstring& folderKey, std::uint64_t serial);
    Folder& FolderAt(const std::wstring& folderKey, const std::wstring& path);
    void Queue(const std::wstring& folderKey, Folder& folder);
    // Takes the folder into the tree of top, if it has room; false if not.
    bool Join(const std::wstring& top, const std::wstring& folderKey, const std::wstring& path,
              std::vector<FileToken>& released, std::int64_t listedId = 0);
    // Takes the folder out of the tree of top (gone, or the tree unlocked).
    void Leave(const std::wstring& top, const std::wstring& folderKey, std::vector<FileToken>& released);
    // Drops patterns matching drop; what no pattern covers any more goes
    // free, and a folder left with none is given up.
    void DropPatterns(FolderMap::iterator found, const std::function<bool(const FolderPattern&)>& drop,
                      std::vector<FileToken>& released);
    // The budget is shared out: each item known has an equal share that no
    // other item can take. An account is the plain items of one folder
    // together (a share each) or one tree. Room an account leaves unused
    // is lent to others, and taken back, latest files first, when its
    // owner needs it.
    static std::wstring AccountOf(const std::wstring& folderKey, const Folder& folder);
    // Moves the folder's pin and files to the account its patterns give it now.
    void Reassign(const std::wstring& folderKey, Folder& folder);
    std::size_t ShareOf(const std::wstring& account) const;
    // Up to wanted handles for account: what lies free, and what it is owed
    // of its share taken back from those over theirs. Returns the room
    // there is now.
    std::size_t MakeRoom(const std::wstring& account, std::size_t wanted, std::vector<FileToken>& released);
    void TakeBack(const std::wstring& account, std::size_t count, std::vector<FileToken>& released);
    // Holds a file; lets one go, or all of a folder's (which counts as room
    // freed). Every held file is known by its volume and file id.
    void Hold(Folder& folder, std::wstring lower, FileToken file, std::int64_t fileId);
    HeldMap::iterator LetGo(Folder& folder, HeldMap::iterator held, std::vector<FileToken>& released);
    void LetGoAll(Folder& folder, std::vector<FileToken>& released);
    // Whether the folder holds this file already under the name lower.
    static bool Holds(const Folder& folder, const FileOutcome& outcome);
    // What trees or the budget turned away is listed again, and files held
    // under another name are tried again; returns the roots of the lanes
    // that have work.
    std::vector<std::wstring> RetryTurnedAway();
    // The rule refused the folder, or a link stood in its place.
    void Refuse(const std::wstring& folderKey, Folder& folder, std::vector<FileToken>& released);
    // The trees a folder's files count against, by their top folders.
    static std::vector<std::wstring> TreesOf(const Folder& folder);
    // Files held or let go count in every tree of the folder.
    void Count(const Folder& folder, std::size_t added, std::size_t removed);
    // Whether a file may be held: a plain item covers it, or a tree of the
    // folder has room.
    bool Admits(const Folder& folder, const std::wstring& lower) const;
    static bool Covers(const Folder& folder, const std::wstring& lower);
    // A tree's files counted over all its folders.
    void TreeStatus(const std::wstring& top, ItemStatus& status) const;
    void Failed(Folder& folder, FileOutcome& outcome, std::uint64_t now);
    static FolderJob JobFor(const std::wstring& folderKey, const Folder& folder);

    std::size_t treeLimit_;
    HandleAccounts accounts_;
    std::size_t itemsKnown_ = 0;
    std::uint32_t nextOrder_ = 0;
    std::unordered_map<std::wstring, Item> items_;
    FolderMap folders_;
    std::unordered_map<std::wstring, Tree> trees_;
    std::unordered_map<std::wstring, Lane> lanes_;
    HeldIds heldIds_;
    bool roomFreed_ = false;
    std::uint64_t nextSerial_ = 1;
    std::uint64_t lastLock_ = 0;
};

}  // namespace vaultmere
