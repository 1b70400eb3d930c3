#include "locker/FolderLane.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/TextCase.h"
#include "locker/ItemPath.h"
#include "locker/NamePattern.h"

namespace vaultmere {

namespace {

// Folder items leave these alone: subfolders, hidden files (the user-facing
// texts promise they stay open) and devices.
constexpr DWORD kNotLocked = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE;

// Names appearing, leaving or changing attributes (a hidden file made
// visible), and writes: a waiting file that is written to, or closed after
// writing, is tried again soon. Subfolders appearing, for trees.
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                               FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// Files a listing opens before it hands them in.
constexpr std::size_t kHandInEvery = 512;

// How long closing the lane waits for the last packet of a cancelled read.
constexpr DWORD kDrainWaitMs = 2000;

bool IsDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The attributes and reparse tag of one entry; false when it is not there.
bool Inspect(const std::wstring& path, DWORD& attributes, DWORD& reparseTag) {
    attributes = ::GetFileAttributesW(path.c_str());
    reparseTag = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(
        ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (search) reparseTag = found.dwReserved0;
    return true;
}

// Whether the job's patterns cover a file: a name given on its own whatever
// its attributes, else one that is not hidden, and for a tree no link.
bool Covered(const FolderJob& job, const std::wstring& lower, DWORD attributes, DWORD reparseTag) {
    for (const FolderPattern& pattern : job.patterns) {
        if (!pattern.wildcard) {
            if (pattern.lower == lower) return true;
            continue;
        }
        if (attributes & kNotLocked) continue;
        if (pattern.tree.empty() ? NameMatchesPattern(pattern.lower, lower) : !IsLink(attributes, reparseTag)) {
            return true;
        }
    }
    return false;
}

// Why a folder could not be opened: gone from a drive or share that is
// there, or the drive or share itself cannot be asked.
ItemStatus::Folder PresenceAfter(DWORD error, const std::wstring& path) {
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return ItemStatus::Folder::Unreachable;
    return ::GetFileAttributesW(VolumeRoot(path).c_str()) == INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Unreachable
                                                                                     : ItemStatus::Folder::Missing;
}

}  // namespace

bool IsLink(DWORD attributes, DWORD reparseTag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

bool TreeEnters(DWORD attributes, DWORD reparseTag) {
    // A hidden subfolder is left open, as hidden files are.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_HIDDEN) &&
           !IsLink(attributes, reparseTag);
}

UniqueHandle OpenFileLocked(const std::wstring& extendedPath) {
    // No SECURITY_ATTRIBUTES: the handle is not inheritable, so no child
    // process can keep a lock alive after the program ends.
    return UniqueHandle(
        ::CreateFileW(extendedPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The folder handle, which pins the folder, and the buffer of its one
// outstanding change read. The system writes into both until the read's
// packet has been taken from the port.
struct FolderLane::Watch {
    std::wstring folderKey;
    std::uint64_t serial = 0;
    std::wstring path;
    UniqueHandle folder;
    OVERLAPPED overlapped{};
    bool reading = false;
    std::vector<DWORD> buffer;

    bool Read() {
        overlapped = OVERLAPPED{};
        const auto bytes = static_cast<DWORD>(buffer.size()) * static_cast<DWORD>(sizeof(DWORD));
        reading = ::ReadDirectoryChangesW(folder.Get(), buffer.data(), bytes, FALSE, kWatchFilter, nullptr, &overlapped,
                                          nullptr) != FALSE;
        return reading;
    }
};

FolderLane::FolderLane(HANDLE port, FileOpener open, const std::atomic<bool>& stop)
    : port_(port), open_(std::move(open)), stop_(stop) {}

FolderLane::~FolderLane() {
    std::vector<std::uint64_t> serials;
    for (const auto& entry : watches_) serials.push_back(entry.first);
    for (std::uint64_t serial : serials) Retire(serial);
    // A cancelled read's buffer stays in use until its packet is taken.
    const ULONGLONG giveUp = ::GetTickCount64() + kDrainWaitMs;
    WatchEvent ignored;
    while (!cancelled_.empty() && ::GetTickCount64() < giveUp) {
        NextEvent(static_cast<DWORD>(giveUp - ::GetTickCount64()), ignored);
    }
    // Never seen: a read that did not report back. Its memory may still be
    // written to, so it is left to the process rather than freed.
    for (std::unique_ptr<Watch>& watch : cancelled_) static_cast<void>(watch.release());
}

void FolderLane::Retire(std::uint64_t serial) {
    const auto found = watches_.find(serial);
    if (found == watches_.end()) return;
    std::unique_ptr<Watch> watch = std::move(found->second);
    watches_.erase(found);
    Close(std::move(watch));
}

void FolderLane::Close(std::unique_ptr<Watch> watch) {
    if (watch->reading) ::CancelIoEx(watch->folder.Get(), &watch->overlapped);
    watch->folder.Reset();
    if (watch->reading) cancelled_.push_back(std::move(watch));
}

void FolderLane::Do(FolderJob& job, const std::function<void(FolderJob&)>& handIn) {
    handIn_ = &handIn;
    Work(job);
    handIn_ = nullptr;
}

void FolderLane::Work(FolderJob& job) {
    const std::wstring prefix = JoinPath(job.path, std::wstring());
    if (job.watch && !StartWatch(job)) return;
    if (job.scan) List(job, prefix);
    for (const std::wstring& name : job.look) {
        if (stop_) return;
        std::wstring lower = LowerCase(name);
        DWORD attributes = 0;
        DWORD reparseTag = 0;
        if (!Inspect(prefix + name, attributes, reparseTag)) continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (job.tree && TreeEnters(attributes, reparseTag)) job.subfolders.emplace_back(name, std::move(lower));
            continue;
        }
        if (Covered(job, lower, attributes, reparseTag)) Open(job, name, std::move(lower), prefix);
        MaybeHandIn(job);
    }
    for (auto& due : job.due) {
        if (stop_) return;
        Open(job, due.first, due.second, prefix);
        // Made hidden while it waited: a folder item no longer covers it,
        // unless it is named on its own.
        FileOutcome& outcome = job.files.back();
        BY_HANDLE_FILE_INFORMATION information;
        if (outcome.file && ::GetFileInformationByHandle(outcome.file.Get(), &information) &&
            (information.dwFileAttributes & kNotLocked) &&
            std::none_of(job.patterns.begin(), job.patterns.end(), [&](const FolderPattern& pattern) {
                return !pattern.wildcard && pattern.lower == outcome.lower;
            })) {
            outcome.file.Reset();
            outcome.error = ERROR_FILE_NOT_FOUND;
        }
        MaybeHandIn(job);
    }
    for (const auto& left : job.left) {
        if (::GetFileAttributesW((prefix + left.first).c_str()) == INVALID_FILE_ATTRIBUTES) {
            job.gone.push_back(left.second);
        }
    }
}

void FolderLane::Open(FolderJob& job, const std::wstring& name, std::wstring lower, const std::wstring& prefix) {
    FileOutcome outcome;
    outcome.file = open_(prefix + name);
    outcome.error = outcome.file ? ERROR_SUCCESS : ::GetLastError();
    // The name as listed is kept only for a file that is to wait.
    if (!outcome.file) outcome.name = name;
    outcome.lower = std::move(lower);
    job.files.push_back(std::move(outcome));
}

void FolderLane::MaybeHandIn(FolderJob& job) {
    if (job.files.size() >= kHandInEvery && handIn_ && *handIn_) (*handIn_)(job);
}

void FolderLane::ListTree(FolderJob& job, const std::wstring& prefix) {
    const bool several = job.patterns.size() > 1;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
    job.presenceKnown = true;
    if (!search) {
        job.presence = PresenceAfter(::GetLastError(), job.path);
        return;
    }
    job.presence = ItemStatus::Folder::Present;
    do {
        // For a link the reserved field holds its kind.
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!IsDots(found.cFileName) && TreeEnters(attributes, found.dwReserved0)) {
                job.subfolders.emplace_back(found.cFileName, LowerCase(found.cFileName));
            }
            continue;
        }
        std::wstring lower = LowerCase(found.cFileName);
        if (job.known.count(lower) || !Covered(job, lower, attributes, found.dwReserved0)) continue;
        if (several) job.known.insert(lower);
        Open(job, found.cFileName, std::move(lower), prefix);
        MaybeHandIn(job);
    } while (!stop_ && ::FindNextFileW(search.Get(), &found));
}

void FolderLane::List(FolderJob& job, const std::wstring& prefix) {
    const bool several = job.patterns.size() > 1;
    // A tree's one listing takes what every pattern with a wildcard would.
    if (job.tree) ListTree(job, prefix);
    if (job.tree && job.presence != ItemStatus::Folder::Present) return;
    for (const FolderPattern& pattern : job.patterns) {
        if (stop_) return;
        if (job.tree && pattern.wildcard) continue;
        if (!pattern.wildcard) {
            if (job.known.count(pattern.lower)) continue;
            Open(job, pattern.name, pattern.lower, prefix);
            const DWORD error = job.files.back().error;
            if (error == ERROR_ACCESS_DENIED) {
                // A folder refuses to open as a file.
                const DWORD attributes = ::GetFileAttributesW((prefix + pattern.name).c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    job.files.pop_back();
                    job.folderNames.push_back(pattern.lower);
                }
            } else if (error == ERROR_PATH_NOT_FOUND) {
                job.presenceKnown = true;
                job.presence = PresenceAfter(error, job.path);
            }
            if (several) job.known.insert(pattern.lower);
            continue;
        }
        WIN32_FIND_DATAW found;
        UniqueFindHandle search(::FindFirstFileExW((prefix + pattern.name).c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!search) {
            const DWORD error = ::GetLastError();
            // Nothing matches: the folder is there.
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) continue;
            job.presenceKnown = true;
            job.presence = PresenceAfter(error, job.path);
            return;
        }
        job.presenceKnown = true;
        job.presence = ItemStatus::Folder::Present;
        do {
            if (found.dwFileAttributes & kNotLocked) continue;
            std::wstring lower = LowerCase(found.cFileName);
            if (job.known.count(lower)) continue;
            if (several) job.known.insert(lower);
            Open(job, found.cFileName, std::move(lower), prefix);
            MaybeHandIn(job);
        } while (!stop_ && ::FindNextFileW(search.Get(), &found));
    }
}

bool FolderLane::StartWatch(FolderJob& job) {
    Retire(job.serial);
    auto watch = std::make_unique<Watch>();
    watch->buffer.resize(std::max<DWORD>(job.watchBytes, sizeof(FILE_NOTIFY_INFORMATION) + MAX_PATH * sizeof(wchar_t)) /
                         sizeof(DWORD));
    watch->folderKey = job.folderKey;
    watch->serial = job.serial;
    watch->path = job.path;
    // Others may list the folder and add, change and remove files in it, but
    // not rename or delete the folder itself while we hold this.
    watch->folder.Reset(::CreateFileW(job.path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                      nullptr));
    job.presenceKnown = true;
    if (!watch->folder) {
        job.presence = PresenceAfter(::GetLastError(), job.path);
        return false;
    }
    job.presence = ItemStatus::Folder::Present;
    // The packets of this handle's reads carry the watch as their key.
    if (!::CreateIoCompletionPort(watch->folder.Get(), port_, reinterpret_cast<ULONG_PTR>(watch.get()), 0) ||
        !watch->Read()) {
        // Not watched, but there: listed now, and the watch tried again later.
        job.watching = false;
        List(job, JoinPath(job.path, std::wstring()));
        job.scan = false;
        return true;
    }
    job.watching = true;
    watches_[job.serial] = std::move(watch);
    return true;
}

bool FolderLane::NextEvent(DWORD timeoutMs, WatchEvent& event) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL ok = ::GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, timeoutMs);
    if (!overlapped) return false;
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    auto* watch = reinterpret_cast<Watch*>(key);
    const auto cancelled = std::find_if(cancelled_.begin(), cancelled_.end(),
                                        [watch](const std::unique_ptr<Watch>& each) { return each.get() == watch; });
    if (cancelled != cancelled_.end()) {
        cancelled_.erase(cancelled);
        return false;
    }
    // A live watch is only ever freed after its read reported back.
    watch->reading = false;
    event = WatchEvent();
    event.folderKey = watch->folderKey;
    event.serial = watch->serial;
    if (error == ERROR_SUCCESS && bytes > 0) {
        // Copied out first: the next read reuses the buffer.
        const auto* base = reinterpret_cast<const unsigned char*>(watch->buffer.data());
        const std::size_t nameOffset = offsetof(FILE_NOTIFY_INFORMATION, FileName);
        for (std::size_t offset = 0; offset + nameOffset <= bytes;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
            if (offset + nameOffset + info->FileNameLength > bytes) break;
            FolderChange change;
            change.action = info->Action;
            change.name.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (!change.name.empty() && change.name.find(L'\\') == std::wstring::npos) {
                change.lower = LowerCase(change.name);
                event.changes.push_back(std::move(change));
            }
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
        event.kind = WatchEvent::Kind::Changes;
        if (watch->Read()) return true;
    } else if (error == ERROR_SUCCESS || error == ERROR_NOTIFY_ENUM_DIR) {
        // More changes than the buffer holds: the folder is listed again.
        event.kind = WatchEvent::Kind::Overflow;
        if (watch->Read()) return true;
    }
    // The handle is no good any more (the folder went with its drive, or
    // the share dropped): the watch is tried again later.
    event.kind = WatchEvent::Kind::Lost;
    const std::wstring path = watch->path;
    watches_.erase(watch->serial);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    event.presence = attributes != INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Present
                                                           : PresenceAfter(::GetLastError(), path);
    return true;
}

std::size_t CountTreeEntries(const std::wstring& folder, std::size_t most,
                             const std::function<bool(const std::wstring& subfolder)>& mayEnter) {
    std::size_t entries = 0;
    std::vector<std::wstring> pending{folder};
    while (!pending.empty() && entries <= most) {
        const std::wstring current = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW found;
        UniqueFindHandle search(::FindFirstFileExW(JoinPath(ExtendedLengthPath(current), L"*").c_str(), FindExInfoBasic,
                                                   &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!search) continue;
        do {
            const DWORD attributes = found.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (IsDots(found.cFileName) || !TreeEnters(attributes, found.dwReserved0)) continue;
                std::wstring subfolder = JoinPath(current, found.cFileName);
                if (mayEnter && !mayEnter(subfolder)) return most + 1;
                pending.push_back(std::move(subfolder));
            } else if ((attributes & kNotLocked) || IsLink(attributes, found.dwReserved0)) {
                continue;
            }
            ++entries;
        } while (entries <= most && ::FindNextFileW(search.Get(), &found));
    }
    return entries;
}

}  // namespace vaultmere
