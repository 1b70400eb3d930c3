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

}  // namespace

std::wstring VolumeRoot(const std::wstring& path) {
    static const wchar_t kUnc[] = L"\\\\?\\UNC\\";
    std::size_t start = 4;  // past \\?\ of a drive path
    int separators = 1;
    if (path.size() >= 8 && _wcsnicmp(path.c_str(), kUnc, 8) == 0) {
        start = 8;
        separators = 2;
    }
    std::size_t end = start;
    for (int i = 0; i < separators && end != std::wstring::npos; ++i) end = path.find(L'\\', end + 1);
    return end == std::wstring::npos ? path + L"\\" : path.substr(0, end + 1);
}

std::wstring LockerState::Lock(const ItemKey& item, ULONGLONG now) {
    lastLock_ = now;
    const auto existing = items_.find(item.key);
    if (existing != items_.end()) {
        ++existing->second.lockCount;
        // Locked again: what appeared since is taken too.
        const auto folder = folders_.find(existing->second.folderKey);
        if (folder == folders_.end()) return std::wstring();
        folder->second.scanDue = true;
        Queue(folder->first, folder->second);
        return folder->second.root;
    }
    Item& added = items_[item.key];
    added.lockCount = 1;
    if (item.target.kind == ItemTarget::Kind::Refused) {
        added.refusal = ItemStatus::Refusal::NotAPath;
        return std::wstring();
    }
    if (systemFolders_.count(item.folder)) {
        added.refusal = ItemStatus::Refusal::SystemFolder;
        return std::wstring();
    }
    added.folderKey = item.folder;
    added.pattern = item.name;

    auto slot = folders_.find(item.folder);
    if (slot == folders_.end()) {
        Folder created;
        created.serial = nextSerial_++;
        created.path = ExtendedLengthPath(item.target.folder);
        created.root = VolumeRoot(ExtendedLengthPath(item.folder));
        slot = folders_.emplace(item.folder, std::move(created)).first;
        ++lanes_[slot->second.root].folders;
    }
    Folder& folder = slot->second;
    FolderPattern pattern;
    pattern.name = item.target.name;
    pattern.lower = item.name;
    pattern.wildcard = item.target.kind == ItemTarget::Kind::Pattern;
    folder.patterns.push_back(std::move(pattern));
    folder.scanDue = true;
    Queue(slot->first, folder);
    return folder.root;
}

LockerState::Unlocked LockerState::Unlock(const std::wstring& key, std::vector<UniqueHandle>& released) {
    Unlocked result;
    const auto item = items_.find(key);
    if (item == items_.end() || --item->second.lockCount > 0) return result;
    const std::wstring folderKey = item->second.folderKey;
    const std::wstring pattern = item->second.pattern;
    items_.erase(item);
    const auto found = folders_.find(folderKey);
    if (folderKey.empty() || found == folders_.end()) return result;

    Folder& folder = found->second;
    folder.patterns.erase(std::remove_if(folder.patterns.begin(), folder.patterns.end(),
                                         [&](const FolderPattern& each) { return each.lower == pattern; }),
                          folder.patterns.end());
    result.root = folder.root;
    if (!folder.patterns.empty()) {
        // What no remaining pattern covers goes free.
        for (auto it = folder.held.begin(); it != folder.held.end();) {
            if (Covers(folder, it->first)) {
                ++it;
            } else {
                released.push_back(std::move(it->second));
                it = folder.held.erase(it);
            }
        }
        for (auto it = folder.waiting.begin(); it != folder.waiting.end();) {
            it = Covers(folder, it->first) ? std::next(it) : folder.waiting.erase(it);
        }
        return result;
    }
    for (auto& entry : folder.held) released.push_back(std::move(entry.second));
    Lane& lane = lanes_[folder.root];
    lane.retired.push_back(folder.serial);
    result.rootIdle = --lane.folders == 0;
    folders_.erase(found);
    return result;
}

void LockerState::ReleaseAll(std::vector<UniqueHandle>& released) {
    for (auto& folder : folders_) {
        for (auto& entry : folder.second.held) released.push_back(std::move(entry.second));
    }
    folders_.clear();
    items_.clear();
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
            if (!covers(entry.first)) continue;
            switch (entry.second.failure) {
            case Failure::Busy:
                ++status.filesWaiting;
                break;
            case Failure::Denied:
                ++status.filesDenied;
                break;
            case Failure::Other:
                ++status.filesFailed;
                break;
            }
        }
    }
    return statuses;
}

LockerReport LockerState::Report() const {
    LockerReport report;
    report.items = items_.size();
    report.folders = folders_.size();
    for (const auto& entry : folders_) {
        report.lockedFiles += entry.second.held.size();
        report.pendingFiles += entry.second.waiting.size();
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
    return job;
}

std::vector<FolderJob> LockerState::Plan(const std::wstring& root, ULONGLONG now, std::size_t most) {
    std::vector<FolderJob> jobs;
    Lane& lane = lanes_[root];
    auto addKnown = [](FolderJob& job, const Folder& folder) {
        for (const auto& entry : folder.held) job.known.insert(entry.first);
        for (const auto& entry : folder.waiting) job.known.insert(entry.first);
    };
    // New locks and what the watches saw come first, in order.
    while (!lane.queue.empty() && jobs.size() < most) {
        const auto next = lane.queue.front();
        lane.queue.pop_front();
        Folder* folder = Find(next.first, next.second);
        if (!folder) continue;
        folder->queued = false;
        FolderJob job = JobFor(next.first, *folder);
        // Listing a folder that is known missing waits for its watch.
        job.scan = folder->scanDue && !(folder->watchTried && !folder->watching);
        if (job.scan && (!folder->held.empty() || !folder->waiting.empty())) addKnown(job, *folder);
        if (job.scan) folder->scanDue = false;
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
        if (folder.root != root) continue;
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
        if (folder.root != root) continue;
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
    const Failure failure = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Failure::Busy
                            : error == ERROR_ACCESS_DENIED                                    ? Failure::Denied
                                                                                              : Failure::Other;
    Waiting& waiting = folder.waiting[outcome.lower];
    if (waiting.since == 0) {
        waiting.name = std::move(outcome.name);
        waiting.since = now;
        waiting.delayMs = failure == Failure::Busy ? kFirstRetryMs : kPatientRetryMs;
    } else {
        DWORD ceiling = RetryCeiling(now - waiting.since);
        if (failure != Failure::Busy) ceiling = std::max<DWORD>(ceiling, kPatientRetryMs);
        waiting.delayMs = std::min<DWORD>(waiting.delayMs * 2, ceiling);
    }
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
        released.push_back(std::move(held->second));
        folder->held.erase(held);
    }
    TakeFiles(job, now, released);
    if (!folder->look.empty() || !folder->left.empty() || (folder->scanDue && folder->watching)) {
        Queue(job.folderKey, *folder);
    }
}

void LockerState::TakeFiles(FolderJob& job, ULONGLONG now, std::vector<UniqueHandle>& released) {
    Folder* folder = Find(job.folderKey, job.serial);
    if (!folder) {
        for (FileOutcome& outcome : job.files) released.push_back(std::move(outcome.file));
        job.files.clear();
        return;
    }
    for (FileOutcome& outcome : job.files) {
        // Unlocked meanwhile, or held already (a second open of our own
        // file fails with a sharing violation).
        if (!Covers(*folder, outcome.lower) || folder->held.count(outcome.lower)) {
            released.push_back(std::move(outcome.file));
            continue;
        }
        if (!outcome.file) {
            Failed(*folder, outcome, now);
            continue;
        }
        folder->waiting.erase(outcome.lower);
        for (FolderPattern& pattern : folder->patterns) {
            if (pattern.lower == outcome.lower) pattern.namesFolder = false;
        }
        folder->held.emplace(std::move(outcome.lower), std::move(outcome.file));
    }
    job.files.clear();
}

bool LockerState::TakeChanges(const std::wstring& folderKey, std::uint64_t serial, std::vector<FolderChange>& changes,
                              ULONGLONG now) {
    Folder* folder = Find(folderKey, serial);
    if (!folder) return false;
    for (FolderChange& change : changes) {
        if (change.action == FILE_ACTION_REMOVED || change.action == FILE_ACTION_RENAMED_OLD_NAME) {
            folder->waiting.erase(change.lower);
            // A file we hold cannot be removed through the file functions;
            // if it went another way, a new file of that name must not pass
            // as held. The lane looks.
            if (folder->held.count(change.lower)) folder->left.emplace_back(change.name, change.lower);
            continue;
        }
        const auto waiting = folder->waiting.find(change.lower);
        if (waiting != folder->waiting.end()) {
            // Written to or closed by its holder: the next retry comes soon.
            Waiting& retry = waiting->second;
            retry.due = std::min(retry.due, std::max(now, retry.lastTry + kEarliestOnChangeMs));
            continue;
        }
        if (!folder->held.count(change.lower) && Covers(*folder, change.lower)) {
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
    if (presence != ItemStatus::Folder::Present) {
        // The folder went with its drive or share: what was held is gone.
        for (auto& entry : folder->held) released.push_back(std::move(entry.second));
        folder->held.clear();
        folder->waiting.clear();
    }
}

}  // namespace vaultmere
