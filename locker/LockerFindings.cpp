// What the lanes hand back: files opened or not, changes their watches saw,
// folders refused or gone.
#include <algorithm>

#include "locker/LockerState.h"

namespace vaultmere {

namespace {

// How often a folder that is missing, or whose watch failed, is looked at.
constexpr std::uint32_t kWatchRetryMs = 1000;

}  // namespace

void LockerState::Failed(Folder& folder, FileOutcome& outcome, std::uint64_t now) {
    if (outcome.error == FileError::Gone) {
        folder.waiting.erase(outcome.lower);
        return;
    }
    Failure failure = WaitingFile::FailureOf(outcome.error);
    Waiting& waiting = folder.waiting[outcome.lower];
    // A retry opens by name alone: the id the listing gave stays.
    if (outcome.fileId != 0) waiting.fileId = outcome.fileId;
    if (outcome.error == FileError::InUse && waiting.fileId != 0) {
        heldIds_.Start([this](const auto& add) {
            for (const auto& each : folders_) {
                for (const auto& held : each.second.held) add(each.second.volume, held.second.Id());
            }
        });
        // Held by us under another name: tried again when we let it go.
        if (heldIds_.Holds(folder.volume, waiting.fileId)) failure = Failure::Linked;
    }
    waiting.Failed(failure, outcome.name, now);
}

void LockerState::TakeJob(FolderJob& job, std::uint64_t now, std::vector<FileToken>& released) {
    Folder* folder = Find(job.folderKey, job.serial);
    if (!folder) {
        for (FileOutcome& outcome : job.files) released.push_back(std::move(outcome.file));
        return;
    }
    if (job.presenceKnown) folder->presence = job.presence;
    if (job.refused) {
        folder->redirected = job.redirected;
        Refuse(job.folderKey, *folder, released);
        return;
    }
    if (job.scan && !job.abandoned) folder->links = job.links;
    for (std::size_t i = 0; i < job.counted.size() && i < job.count.size(); ++i) {
        const std::wstring key = JoinPath(job.folderKey, job.count[i]);
        for (const std::wstring& top : TreesOf(*folder)) {
            const auto tree = trees_.find(top);
            if (tree == trees_.end()) continue;
            const auto turned = tree->second.foldersTurnedAway.find(key);
            if (turned != tree->second.foldersTurnedAway.end()) turned->second = job.counted[i] + 1;
        }
    }
    if (job.watch) {
        folder->watchTried = true;
        folder->watching = job.watching;
        if (!job.watching) {
            folder->watchDue = now + kWatchRetryMs;
            // Listed once the watch is up.
            folder->scanDue = true;
        }
    }
    for (const std::wstring& lower : job.folderNames) {
        for (FolderPattern& pattern : folder->patterns) {
            if (pattern.lower == lower) pattern.namesFolder = true;
        }
    }
    for (const std::wstring& lower : job.gone) {
        const auto held = folder->held.find(lower);
        if (held == folder->held.end()) continue;
        LetGo(*folder, held, released);
        Count(*folder, 0, 1);
    }
    TakeFiles(job, now, released);
    if (!folder->look.empty() || !folder->left.empty() || (folder->scanDue && folder->watching)) {
        Queue(job.folderKey, *folder);
    }
    const std::vector<std::wstring> trees = TreesOf(*folder);
    const bool member = std::any_of(trees.begin(), trees.end(),
                                    [&](const std::wstring& top) { return top != job.folderKey; });
    if (member && job.presenceKnown && job.presence == ItemStatus::Folder::Missing) {
        // A subfolder gone from its tree leaves it; should it come back, the
        // folder above sees it. A tree's top waits for its folder to return.
        for (const std::wstring& top : trees) {
            if (top != job.folderKey) Leave(top, job.folderKey, released);
        }
        return;
    }
    // One this account may not open is tried again now and then.
    if (member && job.watch && !job.watching) folder->watchDue = now + kPatientRetryMs;
    for (const FolderJob::Subfolder& subfolder : job.subfolders) {
        const std::wstring key = JoinPath(job.folderKey, subfolder.lower);
        for (const std::wstring& top : trees) {
            Join(top, key, JoinPath(job.path, subfolder.name), released, subfolder.fileId);
        }
    }
}

void LockerState::Refuse(const std::wstring& folderKey, Folder& folder, std::vector<FileToken>& released) {
    // Nothing of it is held, nor looked at again until it is locked anew.
    Count(folder, 0, folder.held.size());
    LetGoAll(folder, released);
    folder.waiting.clear();
    folder.turnedAway.clear();
    folder.linkedElsewhere.clear();
    folder.refused = true;
    folder.watchTried = true;
    folder.watching = false;
    folder.scanDue = false;
    // A tree's subfolder that is not what its parent listed (a link put in
    // its place) leaves the tree, counted as a link left alone.
    for (const std::wstring& top : TreesOf(folder)) {
        if (top == folderKey) continue;
        const auto tree = trees_.find(top);
        if (tree != trees_.end()) ++tree->second.linksRefused;
        Leave(top, folderKey, released);
    }
}

void LockerState::TakeFiles(FolderJob& job, std::uint64_t now, std::vector<FileToken>& released) {
    Folder* folder = Find(job.folderKey, job.serial);
    if (!folder) {
        for (FileOutcome& outcome : job.files) released.push_back(std::move(outcome.file));
        job.files.clear();
        return;
    }
    if (folder->volume.empty()) folder->volume = job.volume;
    std::size_t wanted = 0;
    for (const FileOutcome& outcome : job.files) wanted += outcome.file ? 1 : 0;
    std::size_t room = 0;
    bool roomAsked = false;
    for (FileOutcome& outcome : job.files) {
        // Unlocked meanwhile, or held already (a second open of our own
        // file fails with a sharing violation).
        if (!Covers(*folder, outcome.lower) || Holds(*folder, outcome)) {
            released.push_back(std::move(outcome.file));
            continue;
        }
        if (outcome.linkedElsewhere) {
            folder->waiting.erase(outcome.lower);
            folder->linkedElsewhere.insert(std::move(outcome.lower));
            continue;
        }
        if (!outcome.file) {
            Failed(*folder, outcome, now);
            continue;
        }
        folder->waiting.erase(outcome.lower);
        folder->linkedElsewhere.erase(outcome.lower);
        const bool admitted = Admits(*folder, outcome.lower);
        if (admitted && !roomAsked) {
            room = MakeRoom(folder->account, wanted, released);
            roomAsked = true;
        }
        if (!admitted || room == 0) {
            // Its trees are full, or its share is used and no other item
            // lends room: left open, noted, and tried again once room is
            // freed.
            released.push_back(std::move(outcome.file));
            folder->turnedAway.insert(std::move(outcome.lower));
            continue;
        }
        folder->turnedAway.erase(outcome.lower);
        for (FolderPattern& pattern : folder->patterns) {
            if (pattern.lower == outcome.lower) pattern.namesFolder = false;
        }
        Hold(*folder, std::move(outcome.lower), std::move(outcome.file), outcome.fileId);
        --room;
        Count(*folder, 1, 0);
    }
    job.files.clear();
}

bool LockerState::TakeChanges(const std::wstring& folderKey, std::uint64_t serial, std::vector<FolderChange>& changes,
                              std::uint64_t now) {
    Folder* folder = Find(folderKey, serial);
    if (!folder) return false;
    const std::vector<std::wstring> trees = TreesOf(*folder);
    for (FolderChange& change : changes) {
        if (change.action == ChangeAction::Removed || change.action == ChangeAction::RenamedOldName) {
            folder->waiting.erase(change.lower);
            folder->turnedAway.erase(change.lower);
            folder->linkedElsewhere.erase(change.lower);
            for (const std::wstring& top : trees) {
                const auto tree = trees_.find(top);
                if (tree != trees_.end()) tree->second.foldersTurnedAway.erase(JoinPath(folderKey, change.lower));
            }
            // A file we hold cannot be removed through the file functions;
            // if it went another way, a new file of that name must not pass
            // as held. The lane looks.
            if (folder->held.count(change.lower)) folder->left.emplace_back(change.name, change.lower);
            continue;
        }
        if (folder->held.count(change.lower)) {
            // Its attributes changed: a file hidden after it was held (as
            // some systems set the attribute just after creating the file)
            // is let go unless it is named on its own. The lane looks.
            if (change.action == ChangeAction::Modified) folder->left.emplace_back(change.name, change.lower);
            continue;
        }
        const auto waiting = folder->waiting.find(change.lower);
        if (waiting != folder->waiting.end()) {
            // Written to or closed by its holder: the next retry comes soon.
            waiting->second.Touched(now);
            continue;
        }
        // A subfolder already in its trees, or turned away by them until
        // there is room, is not looked at again.
        const bool entered = !trees.empty() && std::all_of(trees.begin(), trees.end(), [&](const std::wstring& top) {
            const auto tree = trees_.find(top);
            const std::wstring key = JoinPath(folderKey, change.lower);
            return tree != trees_.end() &&
                   (tree->second.members.count(key) != 0 || tree->second.foldersTurnedAway.count(key) != 0);
        });
        // A short (8.3) name, as a program that used it is reported by, is
        // matched to its long name by the lane.
        const bool maybeShort = change.lower.find(L'~') != std::wstring::npos;
        if (!folder->turnedAway.count(change.lower) && !entered && (Covers(*folder, change.lower) || maybeShort)) {
            folder->look.push_back(std::move(change.name));
        }
    }
    if (folder->look.empty() && folder->left.empty()) return false;
    Queue(folderKey, *folder);
    return true;
}

bool LockerState::TakeOverflow(const std::wstring& folderKey, std::uint64_t serial) {
    Folder* folder = Find(folderKey, serial);
    if (!folder) return false;
    ++folder->overflows;
    folder->scanDue = true;
    Queue(folderKey, *folder);
    return true;
}

void LockerState::TakeWatchLost(const std::wstring& folderKey, std::uint64_t serial, ItemStatus::Folder presence,
                                std::uint64_t now, std::vector<FileToken>& released) {
    Folder* folder = Find(folderKey, serial);
    if (!folder) return;
    folder->watching = false;
    folder->watchDue = now + kWatchRetryMs;
    folder->presence = presence;
    if (presence == ItemStatus::Folder::Present) return;
    // The folder went with its drive or share: what was held is gone.
    Count(*folder, 0, folder->held.size());
    LetGoAll(*folder, released);
    folder->waiting.clear();
    folder->turnedAway.clear();
    folder->linkedElsewhere.clear();
    // So did the subfolders of a tree it tops; the listing finds them again
    // once it is back. A subfolder leaves its trees.
    for (const std::wstring& top : TreesOf(*folder)) {
        if (top != folderKey) {
            if (presence == ItemStatus::Folder::Missing) Leave(top, folderKey, released);
            continue;
        }
        const auto tree = trees_.find(top);
        if (tree == trees_.end()) continue;
        const std::vector<std::wstring> members(tree->second.members.begin(), tree->second.members.end());
        for (const std::wstring& member : members) {
            if (member != top) Leave(top, member, released);
        }
        tree->second.foldersTurnedAway.clear();
    }
}

}  // namespace vaultmere
