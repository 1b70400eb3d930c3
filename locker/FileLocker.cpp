#include "locker/FileLocker.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/TextCase.h"
#include "locker/FolderLocks.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

// How often folders that are missing, or whose watch failed, are looked at.
constexpr DWORD kProbeIntervalMs = 1000;
// How long shutting down waits for the last packet of a cancelled read.
constexpr DWORD kDrainWaitMs = 2000;
// Quiet time after the last lock call before new folders' watches start.
constexpr DWORD kSettleMs = 20;

// The drive root ("\\?\c:\") or share ("\\?\UNC\server\share\") of an
// extended-length folder path.
std::wstring VolumeRoot(const std::wstring& path) {
    static const wchar_t kUnc[] = L"\\\\?\\UNC\\";
    std::size_t start = 4;  // past \\?\ of a drive path
    int separators = 1;
    if (path.compare(0, 8, kUnc) == 0) {
        start = 8;
        separators = 2;
    }
    std::size_t end = start;
    for (int i = 0; i < separators && end != std::wstring::npos; ++i) end = path.find(L'\\', end + 1);
    return end == std::wstring::npos ? path + L"\\" : path.substr(0, end + 1);
}

// Looks at a folder that is not watched; may take long on a network path.
ItemStatus::Folder ProbeFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemStatus::Folder::Present : ItemStatus::Folder::Missing;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return ItemStatus::Folder::Unreachable;
    // Not found: the folder, or the whole drive or share?
    return ::GetFileAttributesW(VolumeRoot(path).c_str()) == INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Unreachable
                                                                                     : ItemStatus::Folder::Missing;
}

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

}  // namespace

UniqueHandle OpenFileLocked(const std::wstring& extendedPath) {
    // No SECURITY_ATTRIBUTES: the handle is not inheritable, so no child
    // process can keep a lock alive after the program ends.
    return UniqueHandle(
        ::CreateFileW(extendedPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The items and folders, shared by the window thread (Lock, Unlock) with two
// threads that run while any item is locked: the watcher, which takes the
// folders' change reads from a completion port and retries busy files, and
// the prober, which looks for missing folders once a second, so that a
// network path that takes long to answer holds up nothing else. One lock
// guards everything below it.
class FileLocker::Engine {
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void Lock(const ItemTarget& target, const std::wstring& key);
    void Unlock(const std::wstring& key);
    LockerReport Report() const;
    // keys as SetItemLocked makes them; "" for a path that is not an item.
    std::vector<ItemStatus> Status(const std::vector<std::wstring>& keys) const;

private:
    struct Item {
        std::wstring folderKey;
        std::wstring pattern;
        unsigned lockCount = 0;
    };

    void StartThreads();
    void StopThreads();
    void Wake();
    void Retire(FolderLocks& folder);
    void OnCompletion(FolderWatch* watch, DWORD bytes, DWORD error);
    DWORD WaitTimeout(ULONGLONG now) const;
    bool Settled(ULONGLONG now) const { return now >= lastLockTick_ + kSettleMs; }
    void StartSettledWatches();

    static DWORD WINAPI WatcherMain(void* engine);
    static DWORD WINAPI ProberMain(void* engine);
    void WatchLoop();
    void RetryDueOutsideLock();
    bool ProbeOnce();

    // Set before the threads start and reset after they end.
    UniqueHandle port_;
    UniqueHandle stopEvent_;
    UniqueHandle watcher_;
    UniqueHandle prober_;

    mutable SlimLock mutex_;
    bool stopping_ = false;
    std::unordered_map<std::wstring, Item> items_;
    std::unordered_map<std::wstring, std::unique_ptr<FolderLocks>> folders_;
    // Watches whose cancelled read has not reported back yet.
    std::vector<std::unique_ptr<FolderWatch>> retired_;
    // Folders pinned by Lock whose watch the watcher is still to start.
    std::vector<std::wstring> unwatched_;
    ULONGLONG lastLockTick_ = 0;
};

FileLocker::Engine::~Engine() {
    {
        std::lock_guard<SlimLock> lock(mutex_);
        items_.clear();
        for (auto& entry : folders_) Retire(*entry.second);
        folders_.clear();
    }
    StopThreads();
}

void FileLocker::Engine::Lock(const ItemTarget& target, const std::wstring& key) {
    if (!watcher_) StartThreads();
    std::lock_guard<SlimLock> lock(mutex_);
    const ULONGLONG now = ::GetTickCount64();

    const auto existing = items_.find(key);
    if (existing != items_.end()) {
        ++existing->second.lockCount;
        FolderLocks& folder = *folders_.at(existing->second.folderKey);
        folder.LockPattern(target.name, now);
        if (folder.PendingCount() > 0) Wake();
        return;
    }

    const std::wstring folderKey = LowerCase(target.folder);
    std::unique_ptr<FolderLocks>& slot = folders_[folderKey];
    const bool firstInFolder = !slot;
    if (firstInFolder) slot = std::make_unique<FolderLocks>(target.folder);
    FolderLocks& folder = *slot;
    folder.AddPattern(target.name);
    items_[key] = Item{folderKey, target.name, 1};

    // The folder is pinned at once; its watch starts on the watcher thread
    // once lock calls pause, so that relocking many folders at start-up pays
    // here only for the pin. The rescan that follows the start of the watch
    // takes what appeared in between.
    if (firstInFolder) folder.OpenWatch(nullptr);
    folder.LockPattern(target.name, now);
    lastLockTick_ = now;
    if (firstInFolder) {
        unwatched_.push_back(folderKey);
        if (unwatched_.size() == 1) Wake();
    }
    if (folder.PendingCount() > 0) Wake();
}

void FileLocker::Engine::Unlock(const std::wstring& key) {
    {
        std::lock_guard<SlimLock> lock(mutex_);
        const auto item = items_.find(key);
        if (item == items_.end()) return;
        if (--item->second.lockCount > 0) return;
        const auto folder = folders_.find(item->second.folderKey);
        if (folder != folders_.end()) {
            folder->second->RemovePattern(item->second.pattern);
            if (!folder->second->HasPatterns()) {
                Retire(*folder->second);
                folders_.erase(folder);
            }
        }
        items_.erase(item);
        if (!items_.empty()) return;
    }
    StopThreads();
}

LockerReport FileLocker::Engine::Report() const {
    std::lock_guard<SlimLock> lock(mutex_);
    LockerReport report;
    report.items = items_.size();
    report.folders = folders_.size();
    for (const auto& entry : folders_) {
        report.lockedFiles += entry.second->LockedCount();
        report.pendingFiles += entry.second->PendingCount();
        if (entry.second->Watching()) ++report.watchedFolders;
        report.watchOverflows += entry.second->OverflowCount();
    }
    return report;
}

std::vector<ItemStatus> FileLocker::Engine::Status(const std::vector<std::wstring>& keys) const {
    std::vector<ItemStatus> statuses(keys.size());
    std::lock_guard<SlimLock> lock(mutex_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto item = items_.find(keys[i]);
        if (item == items_.end()) continue;
        const auto folder = folders_.find(item->second.folderKey);
        if (folder == folders_.end()) continue;
        ItemStatus& status = statuses[i];
        status.locked = true;
        folder->second->CountCovered(item->second.pattern, status.filesHeld, status.filesWaiting);
        status.folder = folder->second->Pinned() ? ItemStatus::Folder::Present : folder->second->Presence();
    }
    return statuses;
}

void FileLocker::Engine::Retire(FolderLocks& folder) {
    if (std::unique_ptr<FolderWatch> watch = folder.DetachWatch()) retired_.push_back(std::move(watch));
}

void FileLocker::Engine::Wake() {
    if (port_) ::PostQueuedCompletionStatus(port_.Get(), 0, 0, nullptr);
}

void FileLocker::Engine::StartThreads() {
    port_.Reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    stopEvent_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (port_ && stopEvent_) {
        stopping_ = false;
        watcher_.Reset(::CreateThread(nullptr, 0, &Engine::WatcherMain, this, 0, nullptr));
        if (watcher_) prober_.Reset(::CreateThread(nullptr, 0, &Engine::ProberMain, this, 0, nullptr));
    }
    // Without its threads the component still locks what is there at each
    // call, as before watching existed; the next lock tries again.
    if (!watcher_ || !prober_) StopThreads();
}

void FileLocker::Engine::StopThreads() {
    {
        std::lock_guard<SlimLock> lock(mutex_);
        stopping_ = true;
    }
    if (stopEvent_) ::SetEvent(stopEvent_.Get());
    Wake();
    for (UniqueHandle* thread : {&watcher_, &prober_}) {
        if (*thread) ::WaitForSingleObject(thread->Get(), INFINITE);
        thread->Reset();
    }
    // A cancelled read's buffer stays in use until its packet is taken.
    while (port_ && !retired_.empty()) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        if (!::GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &overlapped, kDrainWaitMs) && !overlapped) break;
        if (overlapped) OnCompletion(reinterpret_cast<FolderWatch*>(key), bytes, ERROR_OPERATION_ABORTED);
    }
    // Never seen: a read that did not report back. Its memory may still be
    // written to, so it is left to the process rather than freed.
    for (std::unique_ptr<FolderWatch>& watch : retired_) static_cast<void>(watch.release());
    retired_.clear();
    unwatched_.clear();
    port_.Reset();
    stopEvent_.Reset();
}

void FileLocker::Engine::OnCompletion(FolderWatch* watch, DWORD bytes, DWORD error) {
    const auto retired = std::find_if(retired_.begin(), retired_.end(),
                                      [watch](const std::unique_ptr<FolderWatch>& each) {
                                          return each.get() == watch;
                                      });
    if (retired != retired_.end()) {
        retired_.erase(retired);
        return;
    }
    // A live watch is only ever freed by its owner after its read reported
    // back, so the owner is still there.
    if (watch->owner) watch->owner->OnWatchCompleted(bytes, error, ::GetTickCount64());
}

DWORD FileLocker::Engine::WaitTimeout(ULONGLONG now) const {
    ULONGLONG earliest = unwatched_.empty() ? ULLONG_MAX : lastLockTick_ + kSettleMs;
    for (const auto& entry : folders_) {
        if (entry.second->PendingCount() > 0) earliest = std::min(earliest, entry.second->NextRetryDue());
    }
    if (earliest == ULLONG_MAX) return INFINITE;
    return earliest <= now ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(earliest - now, kProbeIntervalMs));
}

DWORD WINAPI FileLocker::Engine::WatcherMain(void* engine) {
    static_cast<Engine*>(engine)->WatchLoop();
    return 0;
}

void FileLocker::Engine::WatchLoop() {
    const HANDLE port = port_.Get();
    for (;;) {
        // No exception leaves the thread: a failed step (out of memory) is
        // given up and the loop goes on after a pause.
        try {
            DWORD timeout;
            {
                std::lock_guard<SlimLock> lock(mutex_);
                if (stopping_) return;
                timeout = WaitTimeout(::GetTickCount64());
            }
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            const BOOL ok = ::GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, timeout);
            const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
            if (!overlapped && error != ERROR_SUCCESS && error != WAIT_TIMEOUT) return;  // the port is gone

            {
                std::lock_guard<SlimLock> lock(mutex_);
                if (overlapped) OnCompletion(reinterpret_cast<FolderWatch*>(key), bytes, error);
                if (stopping_) return;
            }
            RetryDueOutsideLock();
            StartSettledWatches();
        } catch (...) {
            ::Sleep(kProbeIntervalMs);
        }
    }
}

// Files open elsewhere fail to open again and again, and each failed open
// can take long (a network share); lock calls and status queries must never
// wait for them. So the due retries are listed under the lock, opened
// without it, and the results taken back under it.
void FileLocker::Engine::RetryDueOutsideLock() {
    std::vector<std::pair<std::wstring, std::vector<DueOpen>>> due;  // folder key, opens
    {
        std::lock_guard<SlimLock> lock(mutex_);
        const ULONGLONG now = ::GetTickCount64();
        for (auto& entry : folders_) {
            if (entry.second->PendingCount() == 0 || entry.second->NextRetryDue() > now) continue;
            due.emplace_back(entry.first, std::vector<DueOpen>());
            entry.second->CollectDue(now, due.back().second);
        }
    }
    if (due.empty()) return;
    for (auto& folder : due) {
        if (::WaitForSingleObject(stopEvent_.Get(), 0) != WAIT_TIMEOUT) return;
        for (DueOpen& open : folder.second) {
            open.file = OpenFileLocked(open.path);
            open.error = open.file ? ERROR_SUCCESS : ::GetLastError();
        }
    }
    std::lock_guard<SlimLock> lock(mutex_);
    if (stopping_) return;
    const ULONGLONG now = ::GetTickCount64();
    for (auto& folder : due) {
        const auto found = folders_.find(folder.first);
        if (found != folders_.end()) found->second->TakeRetries(folder.second, now);
    }
}

// One folder at a time, so that a lock call waits for one folder at most.
void FileLocker::Engine::StartSettledWatches() {
    for (;;) {
        std::lock_guard<SlimLock> lock(mutex_);
        const ULONGLONG now = ::GetTickCount64();
        if (stopping_ || unwatched_.empty() || !Settled(now)) return;
        const auto found = folders_.find(unwatched_.back());
        unwatched_.pop_back();
        // A folder that was missing is the prober's: it looks for it
        // without holding the lock.
        if (found != folders_.end() && found->second->Pinned() && !found->second->Watching()) {
            found->second->Resume(port_.Get(), now);
        }
    }
}

DWORD WINAPI FileLocker::Engine::ProberMain(void* engine) {
    auto* self = static_cast<Engine*>(engine);
    while (::WaitForSingleObject(self->stopEvent_.Get(), kProbeIntervalMs) == WAIT_TIMEOUT) {
        try {
            if (!self->ProbeOnce()) break;
        } catch (...) {
            // Out of memory: try again on the next round.
        }
    }
    return 0;
}

bool FileLocker::Engine::ProbeOnce() {
    std::vector<std::pair<std::wstring, std::wstring>> idle;  // key, path
    {
        std::lock_guard<SlimLock> lock(mutex_);
        if (stopping_) return false;
        // Lock calls under way: the watcher starts the new watches after them.
        if (!Settled(::GetTickCount64())) return true;
        for (const auto& entry : folders_) {
            if (!entry.second->Watching()) idle.emplace_back(entry.first, entry.second->Path());
        }
    }
    for (const auto& folder : idle) {
        if (::WaitForSingleObject(stopEvent_.Get(), 0) != WAIT_TIMEOUT) return false;
        // Outside the lock: a drive or share may take long to answer.
        const ItemStatus::Folder presence = ProbeFolder(folder.second);
        std::lock_guard<SlimLock> lock(mutex_);
        if (stopping_) return false;
        const auto found = folders_.find(folder.first);
        if (found == folders_.end() || found->second->Watching()) continue;
        found->second->SetPresence(presence);
        if (presence != ItemStatus::Folder::Present) continue;
        found->second->Resume(port_.Get(), ::GetTickCount64());
        if (found->second->PendingCount() > 0) Wake();
    }
    return true;
}

FileLocker::FileLocker() : engine_(std::make_unique<Engine>()) {}

FileLocker::~FileLocker() = default;

void FileLocker::SetItemLocked(const std::wstring& path, bool locked) {
    const ItemTarget target = ParseItemPath(path);
    if (target.kind == ItemTarget::Kind::Refused) return;
    // The key matches the path without regard to case.
    const std::wstring key = LowerCase(JoinPath(target.folder, target.name));
    // Called from window procedures: nothing may escape. Out of memory leaves
    // the call done as far as it got.
    try {
        if (locked) {
            engine_->Lock(target, key);
        } else {
            engine_->Unlock(key);
        }
    } catch (...) {
    }
}

LockerReport FileLocker::Report() const { return engine_->Report(); }

std::vector<ItemStatus> FileLocker::StatusOf(const std::vector<std::wstring>& paths) const {
    std::vector<std::wstring> keys;
    keys.reserve(paths.size());
    for (const std::wstring& path : paths) {
        const ItemTarget target = ParseItemPath(path);
        keys.push_back(target.kind == ItemTarget::Kind::Refused ? std::wstring()
                                                                : LowerCase(JoinPath(target.folder, target.name)));
    }
    return engine_->Status(keys);
}

}  // namespace vaultmere
