#include "locker/LockerState.h"

#include <algorithm>
#include <climits>

#include "locker/NamePattern.h"

namespace vaultmere {

namespace {

// Brief opens by indexers and scanners clear within a few retries. A file a
// program keeps open is tried at most once a second for its first minute,
// at most every 30 seconds until it has waited ten minutes, then at most
// every two minutes: thousands of files held elsewhere must cost next to
// nothing. A file this account may not open, or that fails another way, is
// tried slowly from the start.
constexpr DWORD kFirstRetryMs = 25;
constexpr DWORD kBriefRetryMs = 1000;
constexpr DWORD kPatientRetryMs = 30000;
constexpr DWORD kLongRetryMs = 120000;
constexpr ULONGLONG kPatientAfterMs = 60000;
constexpr ULONGLONG kLongAfterMs = 600000;
// Writes to a waiting file bring its retry forward, but not closer than
// this to the last one: a program writing all the time costs few opens.
constexpr DWORD kEarliestOnChangeMs = 250;
// How often a folder that is missing, or whose watch failed, is looked at.
constexpr DWORD kWatchRetryMs = 1000;
// Quiet time after the last lock before new folders' watches start, so that
// relocking many folders at start-up lists them all first. The listing that
// follows the start of a watch takes what appeared in between.
constexpr ULONGLONG kSettleMs = 20;

DWORD RetryCeiling(ULONGLONG waited) {
    if (waited >= kLongAfterMs) return kLongRetryMs;
    return waited >= kPatientAfterMs ? kPatientRetryMs : kBriefRetryMs;
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The watch buffers: a folder of its own item gets room for a burst of
// changes; the many folders of a tree get less each (an overflow costs a
// listing of that one folder).
constexpr DWORD kWatchBytes = 8192;
constexpr DWORD kTreeWatchBytes = 1024;

}  // namespace

std::wstring LockerState::Lock(const ItemKey& item, ULONGLONG now, const ApprovedFolder& approved) {
    lastLock_ = now;
    const auto existing = items_.find(item.key);
    if (existing != items_.end()) {
        ++existing->second.lockCount;
        // Locked again: what appeared since is taken too.
        const auto folder = folders_.find(existing->second.folderKey);
        if (folder == folders_.end()) return std::wstring();
        const auto tree = trees_.find(folder->first);
        std::vector<std::wstring> again{folder->first};
        if (existing->second.tree && tree != trees_.end())
            again.assign(tree->second.members.begin(), tree->second.members.end());
        for (const std::wstring& key : again) {
            Folder& each = folders_.at(key);
            each.scanDue = true;
            Queue(key, each);
        }
        return folder->second.root;
    }
    Item& added = items_[item.key];
    added.lockCount = 1;
    if (item.target.kind == ItemTarget::Kind::Refused) {
        added.refusal = ItemStatus::Refusal::NotAPath;
        return std::wstring();
    }
    added.folderKey = item.folder;
    added.pattern = item.name;
    added.tree = item.tree;
    const std::wstring path = ExtendedLengthPath(item.target.folder);
    if (item.tree) {
        trees_[item.folder];
        // A tree's own folder is always taken: nothing is let go for it.
        std::vector<UniqueHandle> none;
        Join(item.folder, item.folder, path, none);
        Folder& top = folders_.at(item.folder);
        if (approved.fileId != 0) top.approved = approved;
        return top.root;
    }

    Folder& folder = FolderAt(item.folder, path);
    if (approved.fileId != 0) folder.approved = approved;
    // What a tree turned away is for this item to take.
    folder.turnedAway.clear();
    FolderPattern pattern;
    pattern.name = item.target.name;
    pattern.lower = item.name;
    pattern.wildcard = item.target.kind == ItemTarget::Kind::Pattern;
    folder.patterns.push_back(std::move(pattern));
    Reassign(item.folder, folder);
    folder.scanDue = true;
    Queue(item.folder, folder);
    return folder.root;
}

LockerState::Folder& LockerState::FolderAt(const std::wstring& folderKey, const std::wstring& path) {
    auto slot = folders_.find(folderKey);
    if (slot == folders_.end()) {
        Folder created;
        created.serial = nextSerial_++;
        created.path = path;
        created.root = VolumeRoot(ExtendedLengthPath(folderKey));
        slot = folders_.emplace(folderKey, std::move(created)).first;
        ++lanes_[slot->second.root].folders;
    }
    return slot->second;
}

bool LockerState::Join(const std::wstring& top, const std::wstring& folderKey, const std::wstring& path,
                       std::vector<UniqueHandle>& released, std::int64_t listedId) {
    Tree& tree = trees_.at(top);
    if (tree.members.count(folderKey)) return false;
    if (folderKey != top) {
        // A folder of its own already has its pin.
        const bool pinned = folders_.count(folderKey) != 0;
        if (tree.entries >= treeLimit_ || (!pinned && MakeRoom(TreeAccount(top), 1, released) == 0)) {
            // Counted with what it holds by its parent's lane.
            if (tree.foldersTurnedAway.emplace(folderKey, 0).second) {
                const auto parent = folders_.find(ParentFolder(folderKey));
                if (parent != folders_.end()) {
                    parent->second.countDue = true;
                    Queue(parent->first, parent->second);
                }
            }
            return false;
        }
        ++tree.entries;
    }
    Folder& folder = FolderAt(folderKey, path);
    if (listedId != 0) folder.listedId = listedId;
    tree.members.insert(folderKey);
    // Files it held already for an item of its own count too.
    tree.entries += folder.held.size();
    FolderPattern pattern;
    pattern.name = L"*.*";
    pattern.lower = L"*.*";
    pattern.wildcard = true;
    pattern.tree = top;
    folder.patterns.push_back(std::move(pattern));
    Reassign(folderKey, folder);
    folder.scanDue = true;
    Queue(folderKey, folder);
    return true;
}

void LockerState::Leave(const std::wstring& top, const std::wstring& folderKey, std::vector<UniqueHandle>& released) {
    const auto tree = trees_.find(top);
    const auto folder = folders_.find(folderKey);
    if (tree == trees_.end() || folder == folders_.end() || tree->second.members.erase(folderKey) == 0) return;
    Tree& left = tree->second;
    const std::size_t counted = folder->second.held.size() + (folderKey == top ? 0 : 1);
    left.entries -= std::min(left.entries, counted);
    roomFreed_ = true;
    DropPatterns(
        folder, [&top](const FolderPattern& pattern) { return pattern.tree == top; }, released);
}

template <typename Drop>
void LockerState::DropPatterns(FolderMap::iterator found, Drop drop, std::vector<UniqueHandle>& released) {
    Folder& folder = found->second;
    folder.patterns.erase(std::remove_if(folder.patterns.begin(), folder.patterns.end(), drop), folder.patterns.end());
    Reassign(found->first, folder);
    if (!folder.patterns.empty()) {
        // What no remaining pattern covers goes free.
        for (auto it = folder.held.begin(); it != folder.held.end();) {
            it = Covers(folder, it->first) ? std::next(it) : LetGo(folder, it, released);
        }
        for (auto it = folder.waiting.begin(); it != folder.waiting.end();) {
            it = Covers(folder, it->first) ? std::next(it) : folder.waiting.erase(it);
        }
        for (auto* names : {&folder.turnedAway, &folder.linkedElsewhere}) {
            for (auto it = names->begin(); it != names->end();)
                it = Covers(folder, *it) ? std::next(it) : names->erase(it);
        }
        return;
    }
    LetGoAll(folder, released);
    Lane& lane = lanes_[folder.root];
    lane.retired.push_back(folder.serial);
    --lane.folders;
    folders_.erase(found);
    if (folders_.empty()) {
        heldIds_.clear();
        idsKept_ = false;
    }
}

std::vector<std::wstring> LockerState::TreesOf(const Folder& folder) {
    std::vector<std::wstring> trees;
    for (const FolderPattern& pattern : folder.patterns) {
        if (!pattern.tree.empty()) trees.push_back(pattern.tree);
    }
    return trees;
}

void LockerState::Count(const Folder& folder, std::size_t added, std::size_t removed) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) continue;
        const auto tree = trees_.find(pattern.tree);
        if (tree == trees_.end()) continue;
        std::size_t& entries = tree->second.entries;
        entries = entries + added - std::min(entries + added, removed);
    }
}

bool LockerState::Admits(const Folder& folder, const std::wstring& lower) const {
    bool inTree = false;
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) {
            if (pattern.wildcard ? NameMatchesPattern(pattern.lower, lower) : pattern.lower == lower) return true;
            continue;
        }
        inTree = true;
        const auto tree = trees_.find(pattern.tree);
        if (tree != trees_.end() && tree->second.entries < treeLimit_) return true;
    }
    return !inTree;
}

LockerState::Unlocked LockerState::Unlock(const std::wstring& key, std::vector<UniqueHandle>& released) {
    Unlocked result;
    const auto item = items_.find(key);
    if (item == items_.end() || --item->second.lockCount > 0) return result;
    const std::wstring folderKey = item->second.folderKey;
    const std::wstring pattern = item->second.pattern;
    const bool tree = item->second.tree;
    items_.erase(item);
    const auto found = folders_.find(folderKey);
    if (folderKey.empty() || found == folders_.end()) return result;
    result.root = found->second.root;

    if (tree) {
        const auto members = trees_.find(folderKey);
        if (members != trees_.end()) {
            const std::vector<std::wstring> keys(members->second.members.begin(), members->second.members.end());
            for (const std::wstring& each : keys) Leave(folderKey, each, released);
            trees_.erase(folderKey);
        }
    } else {
        DropPatterns(
            found, [&](const FolderPattern& each) { return each.tree.empty() && each.lower == pattern; }, released);
    }
    const auto lane = lanes_.find(result.root);
    result.rootIdle = lane == lanes_.end() || lane->second.folders == 0;
    result.retryRoots = RetryTurnedAway();
    return result;
}

std::vector<std::wstring> LockerState::RetryTurnedAway() {
    std::unordered_set<std::wstring> roots;
    auto again = [&](const std::wstring& key) {
        const auto found = folders_.find(key);
        if (found == folders_.end()) return;
        found->second.scanDue = true;
        Queue(key, found->second);
        roots.insert(found->second.root);
    };
    roomFreed_ = false;
    for (auto& entry : folders_) {
        Folder& folder = entry.second;
        for (auto& waiting : folder.waiting) {
            if (waiting.second.failure != Failure::Linked) continue;
            waiting.second.due = 0;
            roots.insert(folder.root);
        }
        if (folder.turnedAway.empty()) continue;
        folder.turnedAway.clear();
        again(entry.first);
    }
    // A subfolder turned away is found again by its parent's listing.
    for (auto& entry : trees_) {
        for (const auto& turned : entry.second.foldersTurnedAway) again(ParentFolder(turned.first));
        entry.second.foldersTurnedAway.clear();
    }
    return std::vector<std::wstring>(roots.begin(), roots.end());
}

std::vector<std::wstring> LockerState::RetryWhereRoomFreed() {
    if (!roomFreed_) return {};
    return RetryTurnedAway();
}

void LockerState::ReleaseAll(std::vector<UniqueHandle>& released) {
    for (auto& folder : folders_) {
        for (auto& entry : folder.second.held) released.push_back(std::move(entry.second.file));
    }
    folders_.clear();
    used_.clear();
    usedAll_ = 0;
    heldIds_.clear();
    idsKept_ = false;
    items_.clear();
    trees_.clear();
    lanes_.clear();
}

bool LockerState::Covers(const Folder& folder, const std::wstring& lower) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.wildcard ? NameMatchesPattern(pattern.lower, lower) : pattern.lower == lower) return true;
    }
    return false;
}

void LockerState::Queue(const std::wstring& folderKey, Folder& folder) {
    if (folder.queued) return;
    folder.queued = true;
    lanes_[folder.root].queue.emplace_back(folderKey, folder.serial);
}

LockerState::Folder* LockerState::Find(const std::wstring& folderKey, std::uint64_t serial) {
    const auto found = folders_.find(folderKey);
    return found == folders_.end() || found->second.serial != serial ? nullptr : &found->second;
}

std::vector<ItemStatus> LockerState::Status(const std::vector<std::wstring>& keys) const {
    std::vector<ItemStatus> statuses(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto item = items_.find(keys[i]);
        if (item == items_.end()) continue;
        ItemStatus& status = statuses[i];
        status.locked = true;
        status.refusal = item->second.refusal;
        const auto found = folders_.find(item->second.folderKey);
        if (item->second.folderKey.empty() || found == folders_.end()) continue;
        const Folder& folder = found->second;
        status.folder = folder.presence;
        if (folder.refused) {
            status.refusal = folder.redirected ? ItemStatus::Refusal::Redirected : ItemStatus::Refusal::SystemFolder;
            continue;
        }
        status.linksLeft = folder.links;
        if (item->second.tree) {
            TreeStatus(item->second.folderKey, status);
            continue;
        }
        for (const FolderPattern& pattern : folder.patterns) {
            if (pattern.lower == item->second.pattern && pattern.namesFolder) {
                status.refusal = ItemStatus::Refusal::FolderWithoutPattern;
            }
        }
        const bool alone = folder.patterns.size() == 1;
        const std::wstring& mine = item->second.pattern;
        const bool wildcard = HasWildcard(mine);
        auto covers = [&](const std::wstring& lower) {
            return alone || (wildcard ? NameMatchesPattern(mine, lower) : mine == lower);
        };
        if (alone) {
            status.filesHeld = folder.held.size();
        } else {
            for (const auto& entry : folder.held) status.filesHeld += covers(entry.first) ? 1 : 0;
        }
        for (const auto& entry : folder.waiting) {
            if (covers(entry.first)) CountWaiting(entry.second.failure, status);
        }
        for (const std::wstring& lower : folder.turnedAway) status.filesOverLimit += covers(lower) ? 1 : 0;
        for (const std::wstring& lower : folder.linkedElsewhere) status.linksLeft += covers(lower) ? 1 : 0;
    }
    return statuses;
}

void LockerState::TreeStatus(const std::wstring& top, ItemStatus& status) const {
    const auto tree = trees_.find(top);
    if (tree == trees_.end()) return;
    // A subfolder not counted yet counts as one.
    for (const auto& turned : tree->second.foldersTurnedAway) {
        status.filesOverLimit += std::max<std::size_t>(turned.second, 1);
    }
    status.linksLeft = tree->second.linksRefused;
    for (const std::wstring& key : tree->second.members) {
        const auto found = folders_.find(key);
        if (found == folders_.end()) continue;
        const Folder& folder = found->second;
        status.filesHeld += folder.held.size();
        status.filesOverLimit += folder.turnedAway.size();
        status.linksLeft += folder.links + folder.linkedElsewhere.size();
        // A subfolder that cannot be opened is noted as its files would be.
        if (key != top && folder.presence != ItemStatus::Folder::Present) ++status.filesDenied;
        for (const auto& entry : folder.waiting) CountWaiting(entry.second.failure, status);
    }
}

void LockerState::CountWaiting(Failure failure, ItemStatus& status) {
    switch (failure) {
    case Failure::Busy:
        ++status.filesWaiting;
        break;
    case Failure::Denied:
        ++status.filesDenied;
        break;
    case Failure::Other:
        ++status.filesFailed;
        break;
    case Failure::Linked:
        ++status.filesHeld;
        break;
    }
}

LockerReport LockerState::Report() const {
    LockerReport report;
    report.items = items_.size();
    report.folders = folders_.size();
    for (const auto& entry : folders_) {
        report.lockedFiles += entry.second.held.size();
        for (const auto& waiting : entry.second.waiting) {
            if (waiting.second.failure != Failure::Linked) ++report.pendingFiles;
        }
        if (entry.second.watching) ++report.watchedFolders;
        report.watchOverflows += entry.second.overflows;
    }
    return report;
}

bool LockerState::Settled() const {
    for (const auto& entry : folders_) {
        const Folder& folder = entry.second;
        if (folder.queued || (folder.scanDue && folder.watching) || !(folder.watching || folder.watchTried)) {
            return false;
        }
    }
    return true;
}

FolderJob LockerState::JobFor(const std::wstring& folderKey, const Folder& folder) {
    FolderJob job;
    job.folderKey = folderKey;
    job.serial = folder.serial;
    job.path = folder.path;
    job.patterns = folder.patterns;
    job.tree = !TreesOf(folder).empty();
    job.watchBytes = kTreeWatchBytes;
    job.listedId = folder.listedId;
    job.approved = folder.approved;
    for (const FolderPattern& pattern : folder.patterns) {
        if (!pattern.tree.empty() && pattern.tree != folderKey) continue;
        job.watchBytes = kWatchBytes;
        job.top = true;
        job.topTree = job.topTree || pattern.tree == folderKey;
    }
    return job;
}

std::vector<FolderJob> LockerState::Plan(const std::wstring& root, ULONGLONG now, std::size_t most) {
    std::vector<FolderJob> jobs;
    Lane& lane = lanes_[root];
    auto addKnown = [](FolderJob& job, const Folder& folder) {
        for (const auto& entry : folder.held) job.known.insert(entry.first);
        for (const auto& entry : folder.waiting) job.known.insert(entry.first);
        job.known.insert(folder.turnedAway.begin(), folder.turnedAway.end());
    };
    // New locks and what the watches saw come first, in order.
    while (!lane.queue.empty() && jobs.size() < most) {
        const auto next = lane.queue.front();
        lane.queue.pop_front();
        Folder* folder = Find(next.first, next.second);
        if (!folder) continue;
        folder->queued = false;
        if (folder->refused) continue;
        FolderJob job = JobFor(next.first, *folder);
        // Listing a folder that is known missing waits for its watch.
        job.scan = folder->scanDue && !(folder->watchTried && !folder->watching);
        if (job.scan && (!folder->held.empty() || !folder->waiting.empty() || !folder->turnedAway.empty())) {
            addKnown(job, *folder);
        }
        if (job.scan) folder->scanDue = false;
        if (folder->countDue) {
            folder->countDue = false;
            job.countMost = treeLimit_;
            for (const std::wstring& top : TreesOf(*folder)) {
                const auto tree = trees_.find(top);
                if (tree == trees_.end()) continue;
                // A tree's note needs no more than its limit counted.
                std::size_t over = 0;
                for (const auto& turned : tree->second.foldersTurnedAway) over += turned.second;
                job.countMost = std::min(job.countMost, treeLimit_ - std::min(over, treeLimit_));
                for (const auto& turned : tree->second.foldersTurnedAway) {
                    if (turned.second == 0 && ParentFolder(turned.first) == next.first) {
                        job.count.push_back(turned.first.substr(turned.first.find_last_of(L'\\') + 1));
                    }
                }
            }
        }
        job.look = std::move(folder->look);
        job.left = std::move(folder->left);
        folder->look.clear();
        folder->left.clear();
        jobs.push_back(std::move(job));
    }
    if (!jobs.empty()) return jobs;

    // Then watches to start (a missing folder is looked for again), and
    // waiting files whose retry is due.
    const bool settled = now >= lastLock_ + kSettleMs;
    for (auto& entry : folders_) {
        if (jobs.size() >= most) break;
        Folder& folder = entry.second;
        if (folder.root != root || folder.refused) continue;
        const bool watchNow = settled && !folder.watching && folder.watchDue <= now;
        bool retryNow = false;
        for (const auto& waiting : folder.waiting) {
            if (waiting.second.due <= now) {
                retryNow = true;
                break;
            }
        }
        if (!watchNow && !retryNow) continue;
        FolderJob job = JobFor(entry.first, folder);
        if (watchNow) {
            job.watch = true;
            job.scan = true;
            folder.scanDue = false;
            addKnown(job, folder);
        }
        if (retryNow && !watchNow) {
            for (auto& waiting : folder.waiting) {
                if (waiting.second.due <= now) job.due.emplace_back(waiting.second.name, waiting.first);
            }
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

DWORD LockerState::SleepFor(const std::wstring& root, ULONGLONG now) const {
    const auto lane = lanes_.find(root);
    if (lane != lanes_.end() && !lane->second.queue.empty()) return 0;
    ULONGLONG earliest = ULLONG_MAX;
    for (const auto& entry : folders_) {
        const Folder& folder = entry.second;
        if (folder.root != root || folder.refused) continue;
        if (!folder.watching) earliest = std::min(earliest, std::max(folder.watchDue, lastLock_ + kSettleMs));
        for (const auto& waiting : folder.waiting) earliest = std::min(earliest, waiting.second.due);
    }
    if (earliest == ULLONG_MAX) return INFINITE;
    return earliest <= now ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(earliest - now, kLongRetryMs));
}

std::vector<std::uint64_t> LockerState::TakeRetired(const std::wstring& root) {
    const auto lane = lanes_.find(root);
    if (lane == lanes_.end()) return {};
    return std::move(lane->second.retired);
}

void LockerState::ForgetRoot(const std::wstring& root) { lanes_.erase(root); }

void LockerState::Failed(Folder& folder, FileOutcome& outcome, ULONGLONG now) {
    const DWORD error = outcome.error;
    if (IsGone(error)) {
        folder.waiting.erase(outcome.lower);
        return;
    }
    Failure failure = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Failure::Busy
                      : error == ERROR_ACCESS_DENIED                                    ? Failure::Denied
                                                                                        : Failure::Other;
    Waiting& waiting = folder.waiting[outcome.lower];
    // A retry opens by name alone: the id the listing gave stays.
    if (outcome.fileId != 0) waiting.fileId = outcome.fileId;
    if (error == ERROR_SHARING_VIOLATION && waiting.fileId != 0) {
        if (!idsKept_) {
            idsKept_ = true;
            for (const auto& each : folders_) {
                for (const auto& held : each.second.held) {
                    if (held.second.Id() != 0) heldIds_[each.second.volume].insert(held.second.Id());
                }
            }
        }
        const auto ids = heldIds_.find(folder.volume);
        // Held by us under another name: tried again when we let it go.
        if (ids != heldIds_.end() && ids->second.count(waiting.fileId)) failure = Failure::Linked;
    }
    // Let go by us since, or taken by another program: it waits afresh.
    if (waiting.failure == Failure::Linked && failure != Failure::Linked) waiting.since = 0;
    if (waiting.since == 0) {
        waiting.name = std::move(outcome.name);
        waiting.since = now;
        waiting.delayMs = failure == Failure::Busy ? kFirstRetryMs : kPatientRetryMs;
    } else {
        DWORD ceiling = RetryCeiling(now - waiting.since);
        if (failure != Failure::Busy) ceiling = std::max<DWORD>(ceiling, kPatientRetryMs);
        waiting.delayMs = std::min<DWORD>(waiting.delayMs * 2, ceiling);
    }
    if (failure == Failure::Linked) waiting.delayMs = kLongRetryMs;
    waiting.failure = failure;
    waiting.lastTry = now;
    waiting.due = now + waiting.delayMs;
}

void LockerState::TakeJob(FolderJob& job, ULONGLONG now, std::vector<UniqueHandle>& released) {
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

bool LockerState::Wanted(const std::wstring& folderKey, std::uint64_t serial) const {
    const auto found = folders_.find(folderKey);
    return found != folders_.end() && found->second.serial == serial;
}

void LockerState::Refuse(const std::wstring& folderKey, Folder& folder, std::vector<UniqueHandle>& released) {
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

void LockerState::TakeFiles(FolderJob& job, ULONGLONG now, std::vector<UniqueHandle>& released) {
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

void LockerState::Hold(Folder& folder, std::wstring lower, UniqueHandle file, std::int64_t fileId) {
    if (idsKept_ && fileId != 0) heldIds_[folder.volume].insert(fileId);
    const auto id = static_cast<std::uint64_t>(fileId);
    folder.held.emplace(std::move(lower), HeldFile{std::move(file), static_cast<std::uint32_t>(id),
                                                   static_cast<std::uint32_t>(id >> 32), nextOrder_++});
    ++used_[folder.account];
    ++usedAll_;
}

LockerState::HeldMap::iterator LockerState::LetGo(Folder& folder, HeldMap::iterator held,
                                                  std::vector<UniqueHandle>& released) {
    if (idsKept_ && held->second.Id() != 0) {
        const auto ids = heldIds_.find(folder.volume);
        if (ids != heldIds_.end()) ids->second.erase(held->second.Id());
    }
    released.push_back(std::move(held->second.file));
    roomFreed_ = true;
    Uncharge(folder.account, 1);
    return folder.held.erase(held);
}

void LockerState::LetGoAll(Folder& folder, std::vector<UniqueHandle>& released) {
    for (auto it = folder.held.begin(); it != folder.held.end();) it = LetGo(folder, it, released);
}

bool LockerState::Holds(const Folder& folder, const FileOutcome& outcome) {
    // Another file under the same name but for case is another file: only a
    // case-sensitive folder can hold both.
    const auto same = folder.held.equal_range(outcome.lower);
    return std::any_of(same.first, same.second, [&](const HeldMap::value_type& held) {
        return held.second.Id() == 0 || outcome.fileId == 0 || held.second.Id() == outcome.fileId;
    });
}

std::wstring LockerState::TreeAccount(const std::wstring& top) { return L'*' + top; }

std::wstring LockerState::AccountOf(const std::wstring& folderKey, const Folder& folder) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) return folderKey;
    }
    return folder.patterns.empty() ? std::wstring() : TreeAccount(folder.patterns.front().tree);
}

void LockerState::Uncharge(const std::wstring& account, std::size_t handles) {
    const auto found = used_.find(account);
    if (found == used_.end()) return;
    const std::size_t taken = std::min(found->second, handles);
    found->second -= taken;
    usedAll_ -= std::min(usedAll_, taken);
    if (found->second == 0) used_.erase(found);
}

void LockerState::Reassign(const std::wstring& folderKey, Folder& folder) {
    const std::wstring account = AccountOf(folderKey, folder);
    if (account == folder.account) return;
    // Each folder is one pin at most.
    const std::size_t handles = 1 + folder.held.size();
    if (!folder.account.empty()) Uncharge(folder.account, handles);
    if (!account.empty()) {
        used_[account] += handles;
        usedAll_ += handles;
    }
    folder.account = account;
}

std::size_t LockerState::ShareOf(const std::wstring& account) const {
    const std::size_t each = budget_ / std::max<std::size_t>({itemsKnown_, items_.size(), 1});
    if (account.empty() || account[0] == L'*') return each;
    const auto folder = folders_.find(account);
    if (folder == folders_.end()) return each;
    const auto plain = std::count_if(folder->second.patterns.begin(), folder->second.patterns.end(),
                                     [](const FolderPattern& pattern) { return pattern.tree.empty(); });
    return each * static_cast<std::size_t>(std::max<std::ptrdiff_t>(plain, 1));
}

std::size_t LockerState::MakeRoom(const std::wstring& account, std::size_t wanted,
                                  std::vector<UniqueHandle>& released) {
    const auto used = used_.find(account);
    const std::size_t mine = used == used_.end() ? 0 : used->second;
    const std::size_t share = ShareOf(account);
    const std::size_t owed = share > mine ? std::min(wanted, share - mine) : 0;
    // An item's own pin is taken without asking: others may be over the budget by it.
    if (usedAll_ + owed > budget_) TakeBack(account, usedAll_ + owed - budget_, released);
    return budget_ > usedAll_ ? budget_ - usedAll_ : 0;
}

void LockerState::TakeBack(const std::wstring& account, std::size_t count, std::vector<UniqueHandle>& released) {
    // Room taken back from one item to give to another is no room freed.
    const bool roomFreed = roomFreed_;
    struct Lent {
        std::uint32_t order;
        Folder* folder;
        HeldMap::iterator held;
    };
    std::vector<std::pair<std::wstring, std::size_t>> over;
    for (const auto& each : used_) {
        const std::size_t share = ShareOf(each.first);
        if (each.first != account && each.second > share) over.emplace_back(each.first, each.second - share);
    }
    // Those furthest over their shares give back first.
    std::sort(over.begin(), over.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    for (const auto& borrower : over) {
        if (count == 0) break;
        std::vector<Lent> lent;
        for (auto& entry : folders_) {
            Folder& folder = entry.second;
            if (folder.account != borrower.first) continue;
            for (auto held = folder.held.begin(); held != folder.held.end(); ++held) {
                lent.push_back({held->second.order, &folder, held});
            }
        }
        const std::size_t back = std::min({count, borrower.second, lent.size()});
        std::nth_element(lent.begin(), lent.begin() + static_cast<std::ptrdiff_t>(back), lent.end(),
                         [](const Lent& a, const Lent& b) { return a.order > b.order; });
        for (std::size_t i = 0; i < back; ++i) {
            Folder& folder = *lent[i].folder;
            folder.turnedAway.insert(lent[i].held->first);
            LetGo(folder, lent[i].held, released);
            Count(folder, 0, 1);
        }
        count -= back;
    }
    roomFreed_ = roomFreed;
}

bool LockerState::TakeChanges(const std::wstring& folderKey, std::uint64_t serial, std::vector<FolderChange>& changes,
                              ULONGLONG now) {
    Folder* folder = Find(folderKey, serial);
    if (!folder) return false;
    const std::vector<std::wstring> trees = TreesOf(*folder);
    for (FolderChange& change : changes) {
        if (change.action == FILE_ACTION_REMOVED || change.action == FILE_ACTION_RENAMED_OLD_NAME) {
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
            if (change.action == FILE_ACTION_MODIFIED) folder->left.emplace_back(change.name, change.lower);
            continue;
        }
        const auto waiting = folder->waiting.find(change.lower);
        if (waiting != folder->waiting.end()) {
            // Written to or closed by its holder: the next retry comes soon.
            Waiting& retry = waiting->second;
            retry.due = std::min(retry.due, std::max(now, retry.lastTry + kEarliestOnChangeMs));
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
                                ULONGLONG now, std::vector<UniqueHandle>& released) {
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
