#pragma once
// What the component holds in one folder: the patterns of the items locked
// there, the handles of the files they cover, the files waiting for a retry,
// and the folder's own handle, which pins the folder and carries its change
// watch. Not thread-safe: the owner serialises every call.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/ItemLocker.h"

namespace vaultmere {

class FolderLocks;

// One retry of a waiting file, opened outside the owner's lock.
struct DueOpen {
    std::wstring lower;  // key of the waiting file
    std::wstring path;   // the file, extended-length
    UniqueHandle file;   // the open's result
    DWORD error = ERROR_SUCCESS;
};

// The folder handle and the buffer of its one outstanding change read. The
// system writes into both until the read's completion packet has been taken
// from the port, so it may outlive its FolderLocks (see DetachWatch).
struct FolderWatch {
    static constexpr DWORD kBufferBytes = 8192;

    UniqueHandle folder;
    OVERLAPPED overlapped{};
    bool associated = false;  // bound to the completion port
    bool reading = false;     // a read is outstanding
    FolderLocks* owner = nullptr;
    DWORD buffer[kBufferBytes / sizeof(DWORD)];
};

class FolderLocks {
public:
    // folder as ItemTarget gives it: absolute, without a trailing backslash
    // except at a drive root.
    explicit FolderLocks(const std::wstring& folder);
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

    const std::wstring& Path() const { return path_; }

    // Patterns are file name patterns ("*.*", "*.txt") or plain file names.
    void AddPattern(const std::wstring& pattern);
    // Drops the pattern and releases what no remaining pattern covers.
    void RemovePattern(const std::wstring& pattern);
    bool HasPatterns() const { return !patterns_.empty(); }

    // Locks the files the pattern covers now; busy ones wait for a retry.
    void LockPattern(const std::wstring& pattern, ULONGLONG now);
    // Every pattern again, for what a watch may have missed.
    void Rescan(ULONGLONG now);

    // Opens the folder handle, which pins the folder, and binds it to port
    // when one is given. False when the folder cannot be opened.
    bool OpenWatch(HANDLE port);
    // Starts the next change read; false when it could not be started.
    bool IssueRead();
    bool Watching() const { return watch_ && watch_->reading; }
    bool Pinned() const { return watch_ != nullptr; }
    // Watch not started yet, or lost: opens, binds to port and reads where
    // needed, then rescans for what appeared meanwhile.
    void Resume(HANDLE port, ULONGLONG now);
    // The read finished: takes the changes, starts the next read.
    void OnWatchCompleted(DWORD bytes, DWORD error, ULONGLONG now);
    // Cancels the read and closes the folder handle. Returns the watch when
    // its completion packet is still to come; the caller keeps it until then.
    std::unique_ptr<FolderWatch> DetachWatch();

    // Appends the waiting files whose retry is due; the caller opens them
    // with OpenFileLocked outside its lock and hands them back to
    // TakeRetries, under the lock again.
    void CollectDue(ULONGLONG now, std::vector<DueOpen>& due) const;
    void TakeRetries(std::vector<DueOpen>& opened, ULONGLONG now);
    // Tick of the earliest retry, or ULLONG_MAX when none waits.
    ULONGLONG NextRetryDue() const;

    std::size_t LockedCount() const { return held_.size(); }
    std::size_t PendingCount() const { return pending_.size(); }
    std::size_t OverflowCount() const { return overflows_; }
    // Held and waiting files that pattern covers.
    void CountCovered(const std::wstring& pattern, std::size_t& held, std::size_t& waiting) const;

    // Whether the folder is there, as last seen.
    ItemStatus::Folder Presence() const { return presence_; }
    void SetPresence(ItemStatus::Folder presence) { presence_ = presence; }

private:
    struct Pattern {
        std::wstring name;   // as given, for opening
        std::wstring lower;  // for matching
        bool wildcard = false;
    };
    struct Retry {
        std::wstring name;  // as the folder lists it
        ULONGLONG due = 0;
        ULONGLONG since = 0;    // first failed open
        ULONGLONG lastTry = 0;  // latest open
        DWORD delayMs = 0;
    };

    void Associate(HANDLE port);
    bool Covers(const std::wstring& lower, const std::wstring& name) const;
    void TryLock(const std::wstring& name, std::wstring lower, ULONGLONG now);
    void OnFailedOpen(DWORD error, const std::wstring& name, std::wstring lower, ULONGLONG now);
    void OnChange(DWORD action, const std::wstring& name, ULONGLONG now);

    std::wstring path_;    // extended-length form of the folder
    std::wstring prefix_;  // path_ and one backslash
    std::vector<Pattern> patterns_;
    std::unique_ptr<FolderWatch> watch_;
    // Keyed by the lower-cased name: names compare without regard to case.
    std::unordered_map<std::wstring, UniqueHandle> held_;
    std::unordered_map<std::wstring, Retry> pending_;
    std::size_t overflows_ = 0;
    ItemStatus::Folder presence_ = ItemStatus::Folder::Present;
};

}  // namespace vaultmere
