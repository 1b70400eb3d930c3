// What the lanes do next, and what the state tells of the items.
#include <algorithm>

#include "locker/LockerState.h"
#include "locker/NamePattern.h"

namespace vaultmere {

namespace {

// Quiet time after the last lock before new folders' watches start, so that
// relocking many folders at start-up lists them all first. The listing that
// follows the start of a watch takes what appeared in between.
constexpr std::uint64_t kSettleMs = 20;

// The watch buffers: a folder of its own item gets room for a burst of
// changes; the many folders of a tree get less each (an overflow costs a
// listing of that one folder).
constexpr std::uint32_t kWatchBytes = 8192;
constexpr std::uint32_t kTreeWatchBytes = 1024;

}  // namespace

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
            if (covers(entry.first)) entry.second.CountInto(status);
        }
        for (const std::wstring& lower : folder.turnedAway) status.filesOverLimit += covers(lower) ? 1 : 0;
        for (const std::wstring& lower : folder.linkedElsewhere) status.linksLeft += covers(lower) ? 1 : 0;
    }
    return statuses;
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

std::vector<FolderJob> LockerState::Plan(const std::wstring& root, std::uint64_t now, std::size_t most) {
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

std::uint32_t LockerState::SleepFor(const std::wstring& root, std::uint64_t now) const {
    const auto lane = lanes_.find(root);
    if (lane != lanes_.end() && !lane->second.queue.empty()) return 0;
    std::uint64_t earliest = UINT64_MAX;
    for (const auto& entry : folders_) {
        const Folder& folder = entry.second;
        if (folder.root != root || folder.refused) continue;
        if (!folder.watching) earliest = std::min(earliest, std::max(folder.watchDue, lastLock_ + kSettleMs));
        for (const auto& waiting : folder.waiting) earliest = std::min(earliest, waiting.second.due);
    }
    if (earliest == UINT64_MAX) return kNoDeadline;
    return earliest <= now ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(earliest - now, kLongRetryMs));
}

std::vector<std::uint64_t> LockerState::TakeRetired(const std::wstring& root) {
    const auto lane = lanes_.find(root);
    if (lane == lanes_.end()) return {};
    return std::move(lane->second.retired);
}

void LockerState::ForgetRoot(const std::wstring& root) { lanes_.erase(root); }

}  // namespace vaultmere
