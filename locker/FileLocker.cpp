#include "locker/FileLocker.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "common/EntryPoint.h"
#include "common/TextCase.h"
#include "locker/HandleTokens.h"

namespace vaultmere {

namespace {

// How many folders a lane takes per round before it hands its results in.
constexpr std::size_t kJobsPerRound = 32;
// How long ending the component waits for its lanes.
constexpr DWORD kStopWaitMs = 1500;

// A slim reader/writer lock taken exclusively. Unlike std::mutex over the
// POSIX-thread layer of some toolchains it never creates a kernel object, so
// the component's handle count is exactly what it holds.
class SlimLock {
public:
    SlimLock() = default;
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;
    void lock() { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// One lane's thread and port. The thread keeps the lane and the core alive
// as long as it runs, so a lane left behind touches nothing that is gone.
struct Lane {
    std::wstring root;
    UniqueHandle port;
    UniqueHandle thread;
    std::atomic<bool> stop{false};
    bool awake = true;  // under the core's mutex: working, so a change needs no wake-up
};

}  // namespace

struct FileLocker::Core : std::enable_shared_from_this<FileLocker::Core> {
    Core(FileOpener opener, const LockBudget& budget) : open(std::move(opener)), state(budget) {}

    void Wake(Lane& lane) {
        if (lane.awake) return;
        lane.awake = true;
        ::PostQueuedCompletionStatus(lane.port.Get(), 0, 0, nullptr);
    }
    void StartLane(const std::wstring& root);
    void StopLane(const std::wstring& root);
    void RunLane(Lane& lane);

    FileOpener open;
    const LockRule rule;
    std::function<void(const std::wstring& folder)> refused;
    // Counts unlocks, so that a listing under way asks whether it is still wanted.
    std::atomic<unsigned> unlocks{0};
    mutable SlimLock mutex;
    LockerState state;
    std::unordered_map<std::wstring, std::shared_ptr<Lane>> lanes;
    bool closing = false;
};

namespace {

struct LaneStart {
    std::shared_ptr<FileLocker::Core> core;
    std::shared_ptr<Lane> lane;
};

DWORD WINAPI LaneMain(void* parameter) {
    const std::unique_ptr<LaneStart> start(static_cast<LaneStart*>(parameter));
    // No exception leaves the thread; one that escapes ends the lane, and
    // what it held goes with the next unlock.
    return RunGuarded(L"a locker lane", AfterEscape::GoOn, DWORD{0}, [&start] {
        start->core->RunLane(*start->lane);
        return DWORD{0};
    });
}

}  // namespace

void FileLocker::Core::StartLane(const std::wstring& root) {
    std::shared_ptr<Lane>& slot = lanes[root];
    if (slot) {
        Wake(*slot);
        return;
    }
    auto lane = std::make_shared<Lane>();
    lane->root = root;
    lane->port.Reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!lane->port) {
        lanes.erase(root);
        return;
    }
    auto start = std::make_unique<LaneStart>();
    start->core = shared_from_this();
    start->lane = lane;
    lane->thread.Reset(::CreateThread(nullptr, 0, &LaneMain, start.get(), 0, nullptr));
    if (!lane->thread) {
        lanes.erase(root);
        return;
    }
    static_cast<void>(start.release());  // the thread owns it now
    slot = std::move(lane);
}

void FileLocker::Core::StopLane(const std::wstring& root) {
    const auto found = lanes.find(root);
    if (found == lanes.end()) return;
    // Not waited for: it ends once whatever call it is in returns.
    found->second->stop = true;
    found->second->awake = false;
    Wake(*found->second);
    lanes.erase(found);
    state.ForgetRoot(root);
}

void FileLocker::Core::RunLane(Lane& lane) {
    // No "insert a disk" box for an empty drive: the call just fails.
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, nullptr);
    FolderLane work(lane.port.Get(), open, rule, lane.stop, &unlocks);
    ReleasedFiles released;
    for (;;) {
        std::vector<FolderJob> jobs;
        std::vector<std::uint64_t> retired;
        DWORD sleep = 0;
        {
            std::lock_guard<SlimLock> lock(mutex);
            if (lane.stop || closing) return;
            retired = state.TakeRetired(lane.root);
            jobs = state.Plan(lane.root, ::GetTickCount64(), kJobsPerRound);
            if (jobs.empty()) sleep = state.SleepFor(lane.root, ::GetTickCount64());
            // Asleep from here: a change posts a wake-up.
            lane.awake = !jobs.empty() || sleep == 0;
        }
        for (std::uint64_t serial : retired) work.Retire(serial);

        // The watches' news, taken while there is any; a wait only when
        // there is nothing else to do.
        WatchEvent event;
        for (DWORD wait = jobs.empty() ? sleep : 0; work.NextEvent(wait, event); wait = 0) {
            std::lock_guard<SlimLock> lock(mutex);
            if (lane.stop || closing) return;
            const ULONGLONG now = ::GetTickCount64();
            switch (event.kind) {
            case WatchEvent::Kind::Changes:
                state.TakeChanges(event.folderKey, event.serial, event.changes, now);
                break;
            case WatchEvent::Kind::Overflow:
                state.TakeOverflow(event.folderKey, event.serial);
                break;
            case WatchEvent::Kind::Lost:
                state.TakeWatchLost(event.folderKey, event.serial, event.presence, now, released.tokens);
                for (const std::wstring& root : state.RetryWhereRoomFreed()) StartLane(root);
                break;
            }
        }
        released.Close();
        if (jobs.empty()) continue;

        const std::function<bool(FolderJob&)> handIn = [&](FolderJob& job) {
            bool wanted = false;
            {
                std::lock_guard<SlimLock> lock(mutex);
                if (lane.stop || closing) {
                    for (FileOutcome& outcome : job.files) released.tokens.push_back(std::move(outcome.file));
                    job.files.clear();
                } else {
                    state.TakeFiles(job, ::GetTickCount64(), released.tokens);
                    wanted = state.Wanted(job.folderKey, job.serial);
                }
            }
            released.Close();
            return wanted;
        };
        work.Do(jobs, handIn);
        {
            std::lock_guard<SlimLock> lock(mutex);
            if (lane.stop || closing) {
                for (FolderJob& job : jobs) {
                    for (FileOutcome& outcome : job.files) released.tokens.push_back(std::move(outcome.file));
                }
            } else {
                const ULONGLONG now = ::GetTickCount64();
                for (FolderJob& job : jobs) state.TakeJob(job, now, released.tokens);
                // What a tree or the budget turned away takes the room a file or folder gone left.
                for (const std::wstring& root : state.RetryWhereRoomFreed()) StartLane(root);
            }
        }
        // Closed outside the mutex, like every other handle let go.
        released.Close();
        for (const FolderJob& job : jobs) {
            if (job.refused && job.top && refused) refused(job.path);
        }
    }
}

FileLocker::FileLocker(const LockBudget& budget) : FileLocker(&OpenFileLocked, budget) {}

FileLocker::FileLocker(FileOpener open, const LockBudget& budget)
    : core_(std::make_shared<Core>(std::move(open), budget)) {}

static_assert(LockerState::kNoDeadline == INFINITE, "a lane with nothing due waits without a limit");

FileLocker::~FileLocker() {
    ReleasedFiles released;
    std::vector<std::shared_ptr<Lane>> lanes;
    {
        std::lock_guard<SlimLock> lock(core_->mutex);
        core_->closing = true;
        core_->state.ReleaseAll(released.tokens);
        for (auto& entry : core_->lanes) {
            entry.second->stop = true;
            entry.second->awake = false;
            core_->Wake(*entry.second);
            lanes.push_back(entry.second);
        }
        core_->lanes.clear();
    }
    released.Close();
    const ULONGLONG giveUp = ::GetTickCount64() + kStopWaitMs;
    for (const std::shared_ptr<Lane>& lane : lanes) {
        const ULONGLONG now = ::GetTickCount64();
        ::WaitForSingleObject(lane->thread.Get(), now < giveUp ? static_cast<DWORD>(giveUp - now) : 0);
    }
}

void FileLocker::SetItemsKnown(std::size_t items) {
    std::lock_guard<SlimLock> lock(core_->mutex);
    core_->state.SetItemsKnown(items);
}

void FileLocker::LockApproved(const Item& item, const ApprovedFolder& approved) {
    // Called from window procedures: nothing may escape.
    try {
        std::lock_guard<SlimLock> lock(core_->mutex);
        if (core_->closing) return;
        const std::wstring root = core_->state.Lock(item.Parsed(), ::GetTickCount64(), approved);
        if (!root.empty()) core_->StartLane(root);
    } catch (...) {
    }
}

void FileLocker::SetItemLocked(const Item& item, bool locked) {
    if (locked) return LockApproved(item, ApprovedFolder());
    // Called from window procedures: nothing may escape. Out of memory leaves
    // the call done as far as it got.
    try {
        ReleasedFiles released;
        {
            std::lock_guard<SlimLock> lock(core_->mutex);
            if (core_->closing) return;
            const LockerState::Unlocked unlocked = core_->state.Unlock(item.Key(), released.tokens);
            ++core_->unlocks;
            if (unlocked.rootIdle) {
                core_->StopLane(unlocked.root);
            } else if (!unlocked.root.empty()) {
                const auto lane = core_->lanes.find(unlocked.root);
                if (lane != core_->lanes.end()) core_->Wake(*lane->second);
            }
            for (const std::wstring& root : unlocked.retryRoots) core_->StartLane(root);
        }
        // The files go free here, before the call returns.
        released.Close();
    } catch (...) {
    }
}

std::vector<ItemStatus> FileLocker::StatusOf(const std::vector<Item>& items) const {
    std::vector<std::wstring> keys;
    keys.reserve(items.size());
    for (const Item& item : items) keys.push_back(item.Key());
    std::lock_guard<SlimLock> lock(core_->mutex);
    return core_->state.Status(keys);
}

void FileLocker::OnRefused(std::function<void(const std::wstring& folder)> notice) {
    core_->refused = std::move(notice);
}

LockerReport FileLocker::Report() const {
    std::lock_guard<SlimLock> lock(core_->mutex);
    return core_->state.Report();
}

std::vector<std::uint32_t> FileLocker::DuplicateHeldFiles(HANDLE process) const {
    std::vector<std::uint32_t> values;
    std::lock_guard<SlimLock> lock(core_->mutex);
    core_->state.ForEachHeldFile([&](std::uintptr_t token) {
        const HANDLE file = PeekHandle(token);
        HANDLE copy = nullptr;
        // A file that cannot be duplicated is left out; it is let go with the rest.
        if (::DuplicateHandle(::GetCurrentProcess(), file, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            values.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(copy)));
        }
    });
    return values;
}

bool FileLocker::Settled() const {
    std::lock_guard<SlimLock> lock(core_->mutex);
    for (const auto& lane : core_->lanes) {
        if (lane.second->awake) return false;
    }
    return core_->state.Settled();
}

}  // namespace vaultmere
