#include "locker/FolderLocks.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <utility>

#include "common/TextCase.h"
#include "locker/FileLocker.h"
#include "locker/ItemPath.h"
#include "locker/NamePattern.h"

namespace vaultmere {

namespace {

// Folder items leave these alone: subfolders, hidden files (the user-facing
// texts promise they stay open) and devices.
constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE;

// Names appearing, leaving or changing attributes (a hidden file made
// visible), and writes: a waiting file that is written to, or closed after
// writing, is tried again at once.
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                               FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// Brief opens by indexers and scanners clear within a few retries. A file a
// program keeps open is tried at most once a second for its first minute,
// then at most every 30 seconds: another copy of the program holding
// thousands of files must not cost this one thousands of opens a second.
constexpr DWORD kFirstRetryMs = 25;
constexpr DWORD kLongestRetryMs = 1000;
constexpr DWORD kPatientRetryMs = 30000;
constexpr ULONGLONG kPatientAfterMs = 60000;
// Writes to a waiting file bring its retry forward, but not closer than
// this to the last one: a program writing all the time costs few opens.
constexpr DWORD kEarliestOnChangeMs = 250;

DWORD RetryCeiling(ULONGLONG waited) { return waited >= kPatientAfterMs ? kPatientRetryMs : kLongestRetryMs; }

bool WorthRetrying(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

FolderLocks::FolderLocks(const std::wstring& folder)
    : path_(ExtendedLengthPath(folder)), prefix_(JoinPath(path_, std::wstring())) {}

void FolderLocks::AddPattern(const std::wstring& pattern) {
    Pattern added;
    added.name = pattern;
    added.lower = LowerCase(pattern);
    added.wildcard = HasWildcard(pattern);
    patterns_.push_back(std::move(added));
}

void FolderLocks::RemovePattern(const std::wstring& pattern) {
    const std::wstring lower = LowerCase(pattern);
    const auto found = std::find_if(patterns_.begin(), patterns_.end(),
                                    [&](const Pattern& each) { return each.lower == lower; });
    if (found == patterns_.end()) return;
    patterns_.erase(found);
    if (patterns_.empty()) {
        held_.clear();
        pending_.clear();
        return;
    }
    for (auto it = held_.begin(); it != held_.end();) {
        it = Covers(it->first, it->first) ? std::next(it) : held_.erase(it);
    }
    for (auto it = pending_.begin(); it != pending_.end();) {
        it = Covers(it->first, it->second.name) ? std::next(it) : pending_.erase(it);
    }
}

bool FolderLocks::Covers(const std::wstring& lower, const std::wstring& name) const {
    bool byWildcard = false;
    for (const Pattern& pattern : patterns_) {
        if (!pattern.wildcard) {
            // A file named on its own is locked whatever its attributes.
            if (pattern.lower == lower) return true;
        } else if (!byWildcard && NameMatchesPattern(pattern.lower, lower)) {
            byWildcard = true;
        }
    }
    if (!byWildcard) return false;
    const DWORD attributes = ::GetFileAttributesW((prefix_ + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & kNotLocked);
}

void FolderLocks::LockPattern(const std::wstring& pattern, ULONGLONG now) {
    if (!HasWildcard(pattern)) {
        std::wstring lower = LowerCase(pattern);
        if (!held_.count(lower) && !pending_.count(lower)) TryLock(pattern, std::move(lower), now);
        return;
    }

    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW((prefix_ + pattern).c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return;
    std::wstring filePath = prefix_;
    do {
        if (found.dwFileAttributes & kNotLocked) continue;
        std::wstring lower = LowerCase(found.cFileName);
        if (held_.count(lower) || pending_.count(lower)) continue;
        filePath.resize(prefix_.size());
        filePath += found.cFileName;
        UniqueHandle file = OpenFileLocked(filePath);
        const DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
        if (file) {
            held_.emplace(std::move(lower), std::move(file));
        } else {
            OnFailedOpen(error, found.cFileName, std::move(lower), now);
        }
    } while (::FindNextFileW(search.Get(), &found));
}

void FolderLocks::Rescan(ULONGLONG now) {
    for (const Pattern& pattern : patterns_) LockPattern(pattern.name, now);
}

void FolderLocks::TryLock(const std::wstring& name, std::wstring lower, ULONGLONG now) {
    const std::wstring path = prefix_ + name;
    UniqueHandle file = OpenFileLocked(path);
    if (!file) {
        const DWORD error = ::GetLastError();
        OnFailedOpen(error, name, std::move(lower), now);
        return;
    }
    pending_.erase(lower);
    held_.emplace(std::move(lower), std::move(file));
}

void FolderLocks::OnFailedOpen(DWORD error, const std::wstring& name, std::wstring lower, ULONGLONG now) {
    // Gone again, or not a file at all (a folder refuses to open as one):
    // nothing to wait for.
    if (!WorthRetrying(error) || (error == ERROR_ACCESS_DENIED && IsFolder(prefix_ + name))) {
        pending_.erase(lower);
        return;
    }
    Retry& retry = pending_[std::move(lower)];
    if (retry.since == 0) {
        retry.name = name;
        retry.since = now;
        retry.delayMs = kFirstRetryMs;
    } else {
        retry.delayMs = std::min(retry.delayMs * 2, RetryCeiling(now - retry.since));
    }
    retry.lastTry = now;
    retry.due = now + retry.delayMs;
}

void FolderLocks::CollectDue(ULONGLONG now, std::vector<DueOpen>& due) const {
    for (const auto& entry : pending_) {
        if (entry.second.due > now) continue;
        DueOpen open;
        open.lower = entry.first;
        open.path = prefix_ + entry.second.name;
        due.push_back(std::move(open));
    }
}

void FolderLocks::TakeRetries(std::vector<DueOpen>& opened, ULONGLONG now) {
    for (DueOpen& open : opened) {
        const auto it = pending_.find(open.lower);
        // Unlocked, removed or taken another way meanwhile: the handle closes.
        if (it == pending_.end()) continue;
        if (!open.file) {
            const std::wstring name = it->second.name;
            OnFailedOpen(open.error, name, open.lower, now);
            continue;
        }
        // Made hidden or replaced while it was busy.
        if (!Covers(it->first, it->second.name)) {
            pending_.erase(it);
            continue;
        }
        held_.emplace(it->first, std::move(open.file));
        pending_.erase(it);
    }
}

ULONGLONG FolderLocks::NextRetryDue() const {
    ULONGLONG earliest = ULLONG_MAX;
    for (const auto& entry : pending_) earliest = std::min(earliest, entry.second.due);
    return earliest;
}

void FolderLocks::CountCovered(const std::wstring& pattern, std::size_t& held, std::size_t& waiting) const {
    if (patterns_.size() == 1) {
        held = held_.size();
        waiting = pending_.size();
        return;
    }
    const std::wstring lower = LowerCase(pattern);
    const bool wildcard = HasWildcard(pattern);
    auto covers = [&](const std::wstring& name) { return wildcard ? NameMatchesPattern(lower, name) : lower == name; };
    held = 0;
    waiting = 0;
    for (const auto& entry : held_) held += covers(entry.first) ? 1 : 0;
    for (const auto& entry : pending_) waiting += covers(entry.first) ? 1 : 0;
}

bool FolderLocks::OpenWatch(HANDLE port) {
    auto watch = std::make_unique<FolderWatch>();
    // Others may list the folder and add, change and remove files in it, but
    // not rename or delete the folder itself while we hold this.
    watch->folder.Reset(::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!watch->folder) {
        const DWORD error = ::GetLastError();
        presence_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ItemStatus::Folder::Missing
                                                                                   : ItemStatus::Folder::Unreachable;
        return false;
    }
    presence_ = ItemStatus::Folder::Present;
    watch->owner = this;
    watch_ = std::move(watch);
    if (port) Associate(port);
    return true;
}

void FolderLocks::Associate(HANDLE port) {
    // The packets of this handle's reads carry the watch as their key.
    watch_->associated = ::CreateIoCompletionPort(watch_->folder.Get(), port, reinterpret_cast<ULONG_PTR>(watch_.get()),
                                                  0) != nullptr;
}

bool FolderLocks::IssueRead() {
    if (!watch_ || !watch_->associated || watch_->reading) return watch_ && watch_->reading;
    watch_->overlapped = OVERLAPPED{};
    watch_->reading = ::ReadDirectoryChangesW(watch_->folder.Get(), watch_->buffer, sizeof watch_->buffer, FALSE,
                                              kWatchFilter, nullptr, &watch_->overlapped, nullptr) != FALSE;
    return watch_->reading;
}

void FolderLocks::Resume(HANDLE port, ULONGLONG now) {
    if (watch_ && !watch_->associated && port) Associate(port);
    if (!watch_) OpenWatch(port);
    IssueRead();
    Rescan(now);
}

void FolderLocks::OnWatchCompleted(DWORD bytes, DWORD error, ULONGLONG now) {
    if (!watch_) return;
    watch_->reading = false;
    if (error == ERROR_SUCCESS && bytes > 0) {
        // Copied out first: the next read reuses the buffer.
        std::vector<std::pair<DWORD, std::wstring>> changes;
        const auto* base = reinterpret_cast<const unsigned char*>(watch_->buffer);
        const std::size_t nameOffset = offsetof(FILE_NOTIFY_INFORMATION, FileName);
        for (std::size_t offset = 0; offset + nameOffset <= bytes;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
            if (offset + nameOffset + info->FileNameLength > bytes) break;
            changes.emplace_back(info->Action, std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)));
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
        IssueRead();
        for (const auto& change : changes) OnChange(change.first, change.second, now);
    } else if (error == ERROR_SUCCESS || error == ERROR_NOTIFY_ENUM_DIR) {
        // More changes than the buffer holds: look at the whole folder.
        ++overflows_;
        IssueRead();
        Rescan(now);
    } else {
        // The handle is no good any more (the folder went with its drive, or
        // the share dropped); Resume opens it again once it is back.
        watch_.reset();
        if (::GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD gone = ::GetLastError();
            presence_ = gone == ERROR_FILE_NOT_FOUND || gone == ERROR_PATH_NOT_FOUND ? ItemStatus::Folder::Missing
                                                                                     : ItemStatus::Folder::Unreachable;
            held_.clear();
            pending_.clear();
        }
    }
}

void FolderLocks::OnChange(DWORD action, const std::wstring& name, ULONGLONG now) {
    if (name.empty() || name.find(L'\\') != std::wstring::npos) return;
    std::wstring lower = LowerCase(name);
    if (action == FILE_ACTION_REMOVED || action == FILE_ACTION_RENAMED_OLD_NAME) {
        pending_.erase(lower);
        // A file we hold cannot be removed through the file functions; if it
        // went another way, a new file of that name must not pass as held.
        const auto held = held_.find(lower);
        if (held != held_.end() && ::GetFileAttributesW((prefix_ + name).c_str()) == INVALID_FILE_ATTRIBUTES) {
            held_.erase(held);
        }
        return;
    }
    const auto waiting = pending_.find(lower);
    if (waiting != pending_.end()) {
        // Written to or closed by its holder: the next retry comes soon.
        Retry& retry = waiting->second;
        retry.due = std::min(retry.due, std::max(now, retry.lastTry + kEarliestOnChangeMs));
        return;
    }
    if (held_.count(lower)) return;
    if (Covers(lower, name)) TryLock(name, std::move(lower), now);
}

std::unique_ptr<FolderWatch> FolderLocks::DetachWatch() {
    if (!watch_) return nullptr;
    if (watch_->reading) ::CancelIoEx(watch_->folder.Get(), &watch_->overlapped);
    watch_->folder.Reset();
    watch_->owner = nullptr;
    if (!watch_->reading) watch_.reset();
    return std::move(watch_);
}

}  // namespace vaultmere
