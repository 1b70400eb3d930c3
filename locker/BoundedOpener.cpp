#include "locker/BoundedOpener.h"

#include <algorithm>
#include <utility>

#include "common/EntryPoint.h"

namespace vaultmere {

// One opening thread and its batch. The thread keeps this alive as long as
// it runs; everything here is under lock but what the thread passes to the
// opener, which the lane leaves alone until the batch is finished.
struct BoundedOpener::Worker {
    explicit Worker(FileOpener opener) : open(std::move(opener)) {}

    void Serve();

    FileOpener open;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    // The lane's requests, read under lock only: the lane waits meanwhile.
    const std::vector<OpenRequest>* requests = nullptr;
    std::size_t first = 0;
    std::size_t end = 0;
    std::vector<OpenResult> results;
    ULONGLONG started = 0;  // when the open under way began
    bool ready = false;     // a batch waits
    bool finished = false;  // the batch is worked through or cut short
    bool abandoned = false;
    bool quit = false;
    bool gone = false;  // the thread has ended
    // Read only under lock and while not abandoned: the lane is alive then.
    const std::atomic<bool>* stop = nullptr;
    const std::atomic<unsigned>* unlocks = nullptr;
    unsigned seen = 0;
    // Folder handles the lane let go of while this open was left behind.
    std::vector<UniqueHandle> kept;
};

namespace {

constexpr SIZE_T kOpenerStack = 256 * 1024;

class Locked {
public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~Locked() { ::ReleaseSRWLockExclusive(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    SRWLOCK& lock_;
};

DWORD WINAPI WorkerMain(void* parameter) {
    const std::unique_ptr<std::shared_ptr<BoundedOpener::Worker>> start(
        static_cast<std::shared_ptr<BoundedOpener::Worker>*>(parameter));
    const std::shared_ptr<BoundedOpener::Worker> worker = *start;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, nullptr);
    RunGuarded(L"a locker opener", AfterEscape::GoOn, 0, [&worker] {
        worker->Serve();
        return 0;
    });
    // An escape leaves the lane waiting until its deadline: it goes on then.
    const Locked locked(worker->lock);
    worker->gone = true;
    return 0;
}

}  // namespace

void BoundedOpener::Worker::Serve() {
    const Locked locked(lock);
    for (;;) {
        while (!ready && !quit) ::SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        if (quit) return;
        ready = false;
        for (std::size_t index = first; index < end; ++index) {
            // Left behind before it began (a thread slow to start): the
            // lane's names may be gone.
            if (abandoned) return;
            started = ::GetTickCount64();
            const HANDLE root = (*requests)[index].folder;
            // Its own copy: the lane may go on without this open.
            const std::wstring name = (*requests)[index].name;
            ::ReleaseSRWLockExclusive(&lock);
            OpenResult result;
            try {
                result.file = open(root, name);
                result.error = result.file ? ERROR_SUCCESS : ::GetLastError();
            } catch (...) {
                result.error = ERROR_NOT_ENOUGH_MEMORY;
            }
            ::AcquireSRWLockExclusive(&lock);
            // Late: what it opened is closed, and the thread ends.
            if (abandoned) return;
            results.push_back(std::move(result));
            if (stop->load() || (unlocks && unlocks->load() != seen)) break;
        }
        finished = true;
        ::WakeAllConditionVariable(&changed);
    }
}

BoundedOpener::BoundedOpener(FileOpener open, const std::atomic<bool>& stop, const std::atomic<unsigned>* unlocks)
    : open_(std::move(open)), stop_(stop), unlocks_(unlocks) {
    // Failing here, it is tried again at the first batch.
    static_cast<void>(Ready());
}

BoundedOpener::~BoundedOpener() {
    if (!worker_) return;
    bool idle = false;
    {
        const Locked locked(worker_->lock);
        idle = !worker_->ready && (worker_->finished || worker_->requests == nullptr);
        // A batch still under way (the lane left Run by an escape) is left behind.
        if (!idle) worker_->abandoned = true;
        worker_->quit = true;
        ::WakeAllConditionVariable(&worker_->changed);
    }
    // An idle thread ends at once, so the lane's threads end with the lane.
    if (idle && thread_) ::WaitForSingleObject(thread_.Get(), kOpenDeadlineMs);
}

bool BoundedOpener::Ready() {
    if (worker_) {
        const Locked locked(worker_->lock);
        if (!worker_->gone) return true;
    }
    worker_.reset();
    auto worker = std::make_shared<Worker>(open_);
    worker->stop = &stop_;
    worker->unlocks = unlocks_;
    auto start = std::make_unique<std::shared_ptr<Worker>>(worker);
    // It only opens files: a small stack, not the process's default.
    UniqueHandle thread(
        ::CreateThread(nullptr, kOpenerStack, &WorkerMain, start.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) return false;
    static_cast<void>(start.release());  // the thread owns it now
    worker_ = std::move(worker);
    thread_ = std::move(thread);
    return true;
}

void BoundedOpener::Prune() {
    behind_.erase(std::remove_if(behind_.begin(), behind_.end(),
                                 [](const Behind& each) {
                                     const Locked locked(each.worker->lock);
                                     return each.worker->gone;
                                 }),
                  behind_.end());
}

bool BoundedOpener::LeftBehind(const OpenRequest& request) const {
    if (behind_.empty()) return false;
    const std::wstring key = *request.folderKey + L'\\' + request.lower;
    return std::any_of(behind_.begin(), behind_.end(), [&key](const Behind& each) { return each.key == key; });
}

void BoundedOpener::Keep(UniqueHandle folder) {
    if (!folder || behind_.empty()) return;
    Prune();
    for (const Behind& each : behind_) {
        if (each.folder != folder.Get()) continue;
        const Locked locked(each.worker->lock);
        each.worker->kept.push_back(std::move(folder));
        return;
    }
}

void BoundedOpener::Run(const std::vector<OpenRequest>& requests, std::size_t first, unsigned seen,
                        std::vector<OpenResult>& results) {
    std::size_t next = first;
    while (next < requests.size() && !stop_) {
        if (!behind_.empty()) Prune();
        if (behind_.size() >= kMostLeftBehind || LeftBehind(requests[next])) {
            results.push_back({UniqueHandle(), ERROR_TIMEOUT});
            ++next;
            continue;
        }
        // The batch ends before the next file whose open is still left behind.
        std::size_t end = next + 1;
        while (end < requests.size() && !LeftBehind(requests[end])) ++end;
        if (!Ready()) {
            // No thread to spare: opened here, unbounded.
            OpenResult result;
            result.file = open_(requests[next].folder, requests[next].name);
            result.error = result.file ? ERROR_SUCCESS : ::GetLastError();
            results.push_back(std::move(result));
            ++next;
            continue;
        }
        const std::shared_ptr<Worker> held = worker_;
        Worker& worker = *held;
        const Locked locked(worker.lock);
        worker.requests = &requests;
        worker.first = next;
        worker.end = end;
        worker.results.clear();
        worker.seen = seen;
        worker.started = ::GetTickCount64();
        worker.finished = false;
        worker.ready = true;
        ::WakeAllConditionVariable(&worker.changed);
        for (;;) {
            if (worker.finished || worker.gone) break;
            const ULONGLONG now = ::GetTickCount64();
            const ULONGLONG due = worker.started + kOpenDeadlineMs;
            if (now >= due) break;
            ::SleepConditionVariableSRW(&worker.changed, &worker.lock, static_cast<DWORD>(due - now), 0);
        }
        const std::size_t done = worker.results.size();
        for (OpenResult& result : worker.results) results.push_back(std::move(result));
        worker.results.clear();
        next += done;
        if (worker.finished) {
            // Cut short: the lane asks what it still wants.
            if (next < end) return;
            continue;
        }
        // Too slow, or its thread ended: that open is left behind, and the
        // folder it reaches the file through stays open while it may.
        worker.abandoned = true;
        const OpenRequest& late = requests[next];
        if (!worker.gone) behind_.push_back({held, *late.folderKey + L'\\' + late.lower, late.folder});
        results.push_back({UniqueHandle(), ERROR_TIMEOUT});
        ++next;
        worker_.reset();
    }
}

}  // namespace vaultmere
