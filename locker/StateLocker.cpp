#include "locker/StateLocker.h"

#include <utility>

namespace vaultmere {

StateLocker::StateLocker(const LockBudget& budget, Finder finder) : state_(budget), finder_(std::move(finder)) {}

void StateLocker::SetItemLocked(const Item& item, bool locked) {
    if (locked) return LockApproved(item, ApprovedFolder());
    const LockerState::Unlocked unlocked = state_.Unlock(item.Key(), released_);
    // A lane ends with its last folder; the watches of the folders let go end with it.
    if (unlocked.rootIdle) {
        state_.TakeRetired(unlocked.root);
        state_.ForgetRoot(unlocked.root);
        roots_.erase(unlocked.root);
    }
    roots_.insert(unlocked.retryRoots.begin(), unlocked.retryRoots.end());
}

void StateLocker::LockApproved(const Item& item, const ApprovedFolder& approved) {
    const std::wstring root = state_.Lock(item.Parsed(), now_, approved);
    if (!root.empty()) roots_.insert(root);
}

std::vector<ItemStatus> StateLocker::StatusOf(const std::vector<Item>& items) const {
    std::vector<std::wstring> keys;
    keys.reserve(items.size());
    for (const Item& item : items) keys.push_back(item.Key());
    return state_.Status(keys);
}

void StateLocker::Work(std::uint64_t ms, int rounds) {
    now_ += ms;
    for (int round = 0; round < rounds; ++round) {
        bool worked = false;
        const std::set<std::wstring> roots = roots_;
        for (const std::wstring& root : roots) {
            state_.TakeRetired(root);
            std::vector<FolderJob> jobs = state_.Plan(root, now_, 32);
            for (FolderJob& job : jobs) {
                if (finder_) {
                    finder_(job);
                } else {
                    job.watching = job.watch;
                }
                state_.TakeJob(job, now_, released_);
            }
            worked = worked || !jobs.empty();
        }
        for (const std::wstring& root : state_.RetryWhereRoomFreed()) roots_.insert(root);
        if (!worked) break;
    }
}

std::vector<FileToken> StateLocker::TakeReleased() { return std::exchange(released_, {}); }

}  // namespace vaultmere
