#include "locker/FolderLane.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <utility>

#include "common/TextCase.h"
#include "locker/FolderHandles.h"
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

// Whether the job's wildcard patterns cover a listed file: one that is not
// hidden (nor a link, which never comes here).
bool CoveredByWildcard(const FolderJob& job, const std::wstring& lower, DWORD attributes) {
    if (!WildcardCovers(attributes)) return false;
    for (const FolderPattern& pattern : job.patterns) {
        if (!pattern.wildcard) continue;
        if (!pattern.tree.empty() || NameMatchesPattern(pattern.lower, lower)) return true;
    }
    return false;
}

// Whether the job's patterns cover a file: a name given on its own whatever
// its attributes, else as a wildcard covers it.
bool Covered(const FolderJob& job, const std::wstring& lower, DWORD attributes) {
    for (const FolderPattern& pattern : job.patterns) {
        if (!pattern.wildcard && pattern.lower == lower) return true;
    }
    return CoveredByWildcard(job, lower, attributes);
}

// Why a folder could not be opened: gone from a drive or share that is
// there, or the drive or share itself cannot be asked.
ItemStatus::Folder PresenceAfter(DWORD error, const std::wstring& path) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        break;
    case ERROR_ACCESS_DENIED:
        return ItemStatus::Folder::Denied;
    case ERROR_SHARING_VIOLATION:
        return ItemStatus::Folder::InUse;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NOT_ENOUGH_QUOTA:
        return ItemStatus::Folder::OutOfHandles;
    default:
        return ItemStatus::Folder::Unreachable;
    }
    return ::GetFileAttributesW(VolumeRoot(path).c_str()) == INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Unreachable
                                                                                     : ItemStatus::Folder::Missing;
}

bool IsGoneError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens an item's own folder to pin it: listable, not deletable or
// renamable by others while held, overlapped for its watch.
UniqueHandle PinFolder(const std::wstring& extendedPath) {
    return UniqueHandle(::CreateFileW(extendedPath.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
}

}  // namespace

bool TreeEnters(DWORD attributes) {
    // A hidden subfolder is left open, as hidden files are.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool WildcardCovers(DWORD attributes) { return !(attributes & (kNotLocked | FILE_ATTRIBUTE_REPARSE_POINT)); }

namespace {

// What a tree would hold beneath the subfolder name of parent: its files
// and subfolders, reached through handles and no link, counted until past
// most. One handle is open per level, so levels below kCountDepth count as
// folders only: a deep nest cannot use up the handles' reserve.
constexpr std::size_t kCountDepth = 64;

std::size_t CountBeneath(HANDLE parent, const std::wstring& name, std::size_t most) {
    struct Level {
        UniqueHandle folder;
        std::vector<std::wstring> subfolders;
    };
    std::size_t entries = 0;
    std::vector<Level> levels;
    const auto enter = [&](HANDLE from, const std::wstring& each) {
        Level level;
        level.folder = OpenRelative(from, each, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
        if (!level.folder) return;
        ListFolder(level.folder.Get(), std::wstring(), [&](const FolderEntry& entry) {
            if (TreeEnters(entry.attributes)) {
                level.subfolders.push_back(entry.name);
            } else if (entry.attributes & (kNotLocked | FILE_ATTRIBUTE_REPARSE_POINT)) {
                return true;
            }
            return ++entries <= most;
        });
        levels.push_back(std::move(level));
    };
    enter(parent, name);
    while (!levels.empty() && entries <= most) {
        if (levels.back().subfolders.empty()) {
            levels.pop_back();
            continue;
        }
        const std::wstring next = std::move(levels.back().subfolders.back());
        levels.back().subfolders.pop_back();
        if (levels.size() < kCountDepth) enter(levels.back().folder.Get(), next);
    }
    return std::min(entries, most);
}

}  // namespace

UniqueHandle OpenFileLocked(HANDLE folder, const std::wstring& name) {
    // Not inheritable, so no child process can keep a lock alive after the
    // program ends. An opportunistic lock another program holds is not
    // waited for: the open completes, and its break goes on without us.
    return OpenRelative(folder, name, GENERIC_READ, 0,
                        FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED);
}

UniqueHandle OpenFileLockedByName(const std::wstring& extendedPath) {
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
    std::wstring volume;  // the root of its final path: where its files' ids are unique
    UniqueHandle folder;
    // Which folder an item's own pin is, for a check's approval.
    std::int64_t fileId = 0;
    std::uint32_t volumeSerial = 0;
    bool async = false;  // the pin was reopened for the watch's reads, its packets going to the port
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

FolderLane::FolderLane(HANDLE port, FileOpener open, const LockRule& rule, const std::atomic<bool>& stop,
                       const std::atomic<unsigned>* unlocks)
    : port_(port), opener_(std::move(open), stop, unlocks), rule_(rule), stop_(stop), unlocks_(unlocks) {}

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
    const auto key = pinned_.find(watch->folderKey);
    if (key != pinned_.end() && key->second == serial) pinned_.erase(key);
    Close(std::move(watch));
}

void FolderLane::Close(std::unique_ptr<Watch> watch) {
    if (watch->reading) ::CancelIoEx(watch->folder.Get(), &watch->overlapped);
    opener_.Keep(std::move(watch->folder));
    if (watch->reading) cancelled_.push_back(std::move(watch));
}

void FolderLane::Do(std::vector<FolderJob>& jobs, const std::function<bool(FolderJob&)>& handIn) {
    handIn_ = &handIn;
    for (FolderJob& job : jobs) {
        if (stop_) break;
        Work(job);
    }
    Flush();
    handIn_ = nullptr;
    for (UniqueHandle& listing : listings_) opener_.Keep(std::move(listing));
    listings_.clear();
}

bool FolderLane::Approves(FolderJob& job, Watch& pin) {
    const ApprovedFolder& approved = job.approved;
    if (approved.fileId == 0 || (approved.fileId == pin.fileId && approved.volume == pin.volumeSerial)) return true;
    job.refused = true;
    job.redirected = true;
    return false;
}

FolderLane::Watch* FolderLane::Pin(FolderJob& job) {
    const auto found = watches_.find(job.serial);
    if (found != watches_.end()) return Approves(job, *found->second) ? found->second.get() : nullptr;
    auto watch = std::make_unique<Watch>();
    watch->folderKey = job.folderKey;
    watch->serial = job.serial;
    watch->path = job.path;
    job.presenceKnown = true;
    FolderIdentity identity;
    if (job.top) {
        // The item's own folder, judged by where it turned out to be. It is
        // held only where its path has no link on the way: a link put in
        // the place of a folder that was checked leads nowhere.
        watch->folder = PinFolder(job.path);
        if (!watch->folder) {
            job.presence = PresenceAfter(::GetLastError(), job.path);
            // One not there is judged by its name meanwhile.
            FolderIdentity named;
            named.path = job.folderKey;
            job.refused = !rule_.Allows(named, job.topTree);
            return nullptr;
        }
        job.presence = ItemStatus::Folder::Present;
        if (!ReadIdentity(watch->folder.Get(), true, identity, DriveOf(job.path))) {
            job.refused = true;
            return nullptr;
        }
        if (job.approved.fileId != 0 || rule_.MayBeProtected(identity.fileId)) {
            identity.volume = VolumeSerialOf(watch->folder.Get());
        }
        if (!rule_.Allows(identity, job.topTree)) {
            job.refused = true;
            return nullptr;
        }
        if (!ReachedWithoutLinks(WithoutExtendedPrefix(job.path), identity)) {
            job.refused = true;
            job.redirected = true;
            return nullptr;
        }
        watch->fileId = identity.fileId;
        watch->volumeSerial = identity.volume;
        if (!Approves(job, *watch)) return nullptr;
        watch->volume = VolumeRoot(identity.path.empty() ? job.path : ExtendedLengthPath(identity.path));
    } else {
        // A tree's subfolder, from its parent's pin: a link swapped in
        // since the parent listed it is opened itself, or shows as another
        // file than the one listed.
        const auto parent = pinned_.find(ParentFolder(job.folderKey));
        const auto parentWatch = parent == pinned_.end() ? watches_.end() : watches_.find(parent->second);
        if (parentWatch == watches_.end()) {
            job.presence = ItemStatus::Folder::Missing;
            return nullptr;
        }
        watch->volume = parentWatch->second->volume;
        watch->folder = OpenRelative(parentWatch->second->folder.Get(),
                                     job.path.substr(job.path.find_last_of(L'\\') + 1),
                                     FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT);
        if (!watch->folder) {
            const DWORD error = ::GetLastError();
            job.presence = IsGoneError(error) ? ItemStatus::Folder::Missing : PresenceAfter(error, job.path);
            return nullptr;
        }
        job.presence = ItemStatus::Folder::Present;
        if (!ReadIdentity(watch->folder.Get(), false, identity) ||
            (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            (job.listedId != 0 && identity.fileId != job.listedId) || rule_.IsProtected(identity)) {
            job.refused = true;
            return nullptr;
        }
    }
    Watch* pinned = watch.get();
    pinned_[job.folderKey] = job.serial;
    watches_[job.serial] = std::move(watch);
    return pinned;
}

void FolderLane::Work(FolderJob& job) {
    Watch* pin = Pin(job);
    if (!pin) return;
    job.volume = pin->volume;
    if (job.watch && !pin->reading) {
        if (!pin->async) {
            // The same folder again, for overlapped reads; the packets of
            // its reads carry the watch as their key.
            UniqueHandle watched = OpenRelative(pin->folder.Get(), std::wstring(),
                                                FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
            if (watched &&
                ::CreateIoCompletionPort(watched.Get(), port_, reinterpret_cast<ULONG_PTR>(pin), 0) != nullptr) {
                // Opens queued this round may reach files through the old one.
                listings_.push_back(std::move(pin->folder));
                pin->folder = std::move(watched);
                pin->async = true;
            }
        }
        pin->buffer.resize(
            std::max<DWORD>(job.watchBytes, sizeof(FILE_NOTIFY_INFORMATION) + MAX_PATH * sizeof(wchar_t)) /
            sizeof(DWORD));
        if (pin->async) pin->Read();
    }
    // Not watched, but there: listed now, and the watch tried again later.
    if (job.watch) job.watching = pin->reading;
    // An overlapped handle is listed through a synchronous one of its own.
    UniqueHandle reopened;
    if (pin->async) {
        reopened = ReopenForListing(pin->folder.Get());
        if (!reopened) {
            job.presenceKnown = true;
            job.presence = PresenceAfter(::GetLastError(), job.path);
            return;
        }
    }
    const HANDLE listing = pin->async ? reopened.Get() : pin->folder.Get();
    if (reopened) listings_.push_back(std::move(reopened));
    if (job.scan) List(job, listing);
    for (const std::wstring& name : job.look) {
        if (stop_ || job.abandoned) return;
        FolderEntry entry;
        if (!FindEntry(pin->folder.Get(), name, entry) || (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        std::wstring lower = LowerCase(entry.name);
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (job.tree && TreeEnters(entry.attributes)) job.subfolders.push_back({entry.name, lower, entry.fileId});
            continue;
        }
        if (Covered(job, lower, entry.attributes)) {
            Open(job, listing, entry.name, std::move(lower), Reason::Listed, entry.fileId);
        } else {
            // Hidden since an earlier look held it: let go.
            job.gone.push_back(std::move(lower));
        }
        if (!MaybeHandIn(job)) return;
    }
    for (auto& due : job.due) Open(job, listing, due.first, due.second, Reason::Retried);
    for (const auto& left : job.left) {
        FolderEntry entry;
        if (!FindEntry(pin->folder.Get(), left.first, entry) || !Covered(job, left.second, entry.attributes)) {
            job.gone.push_back(left.second);
        }
    }
    std::size_t room = job.countMost;
    for (const std::wstring& name : job.count) {
        if (stop_) return;
        job.counted.push_back(room == 0 ? 0 : CountBeneath(pin->folder.Get(), name, room));
        room -= job.counted.back();
    }
}

void FolderLane::Open(FolderJob& job, HANDLE folder, const std::wstring& name, std::wstring lower, Reason reason,
                      std::int64_t fileId) {
    requests_.push_back({folder, &job.folderKey, name, std::move(lower)});
    queued_.push_back({&job, reason, fileId});
    if (requests_.size() >= kHandInEvery) Flush();
}

void FolderLane::Flush() {
    for (std::size_t done = 0; done < requests_.size() && !stop_;) {
        if (unlocks_ && unlocks_->load() != unlocksSeen_) {
            AskWanted(done);
            if (done == requests_.size()) break;
        }
        opened_.clear();
        opener_.Run(requests_, done, unlocksSeen_, opened_);
        for (OpenResult& result : opened_) {
            OpenRequest& request = requests_[done];
            const Queued queued = queued_[done++];
            FolderJob& job = *queued.job;
            std::int64_t fileId = queued.fileId;
            if (queued.reason == Reason::Named && result.error == ERROR_ACCESS_DENIED) {
                // A folder refuses to open as a file.
                FolderEntry entry;
                if (FindEntry(request.folder, request.name, entry) && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    job.folderNames.push_back(std::move(request.lower));
                    continue;
                }
            } else if (queued.reason == Reason::Named && result.error == ERROR_SHARING_VIOLATION) {
                // Which file is in use: perhaps one held under another name.
                FolderEntry entry;
                if (FindEntry(request.folder, request.name, entry)) fileId = entry.fileId;
            }
            BY_HANDLE_FILE_INFORMATION information;
            if (queued.reason == Reason::Retried && result.file &&
                ::GetFileInformationByHandle(result.file.Get(), &information)) {
                // Made hidden while it waited: a folder item no longer
                // covers it, unless it is named on its own. Nor is a link held.
                const bool named = std::any_of(job.patterns.begin(), job.patterns.end(),
                                               [&](const FolderPattern& pattern) {
                                                   return !pattern.wildcard && pattern.lower == request.lower;
                                               });
                if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                    ((information.dwFileAttributes & kNotLocked) && !named)) {
                    result.file.Reset();
                    result.error = ERROR_FILE_NOT_FOUND;
                }
            }
            FileOutcome outcome;
            // A file with other names is held only when none of them lies
            // where nothing is locked.
            if (result.file && LinkCountOf(result.file.Get()) > 1 && !rule_.AllowsLinkedFile(result.file.Get())) {
                result.file.Reset();
                outcome.linkedElsewhere = true;
            }
            outcome.file = std::move(result.file);
            outcome.error = result.error;
            // As listed a moment before, else from the handle.
            outcome.fileId = fileId != 0 || !outcome.file ? fileId : FileIdOf(outcome.file.Get());
            // The name as listed is kept only for a file that is to wait.
            if (!outcome.file) outcome.name = std::move(request.name);
            outcome.lower = std::move(request.lower);
            job.files.push_back(std::move(outcome));
            if (job.files.size() >= kHandInEvery) HandIn(job);
        }
    }
    opened_.clear();
    requests_.clear();
    queued_.clear();
}

void FolderLane::HandIn(FolderJob& job) {
    if (handIn_ && *handIn_ && !(*handIn_)(job)) job.abandoned = true;
}

void FolderLane::AskWanted(std::size_t first) {
    unlocksSeen_ = unlocks_ ? unlocks_->load() : 0;
    std::size_t kept = first;
    for (std::size_t index = first; index < requests_.size(); ++index) {
        FolderJob& job = *queued_[index].job;
        if (!job.abandoned && (index == first || queued_[index - 1].job != &job)) HandIn(job);
        if (job.abandoned) continue;
        if (kept != index) {
            requests_[kept] = std::move(requests_[index]);
            queued_[kept] = queued_[index];
        }
        ++kept;
    }
    requests_.resize(kept);
    queued_.resize(kept);
}

bool FolderLane::MaybeHandIn(FolderJob& job) {
    if (unlocks_ && unlocks_->load() != unlocksSeen_) {
        AskWanted(0);
        HandIn(job);
    } else if (job.files.size() >= kHandInEvery) {
        HandIn(job);
    }
    return !job.abandoned;
}

void FolderLane::List(FolderJob& job, HANDLE folder) {
    const bool several = job.patterns.size() > 1;
    // Names the listing opened, left to it by the plain patterns. Not
    // skipped by the listing itself: in a case-sensitive folder two files
    // may share one lower-cased name.
    std::unordered_set<std::wstring> listed;
    const bool anyWildcard = std::any_of(job.patterns.begin(), job.patterns.end(),
                                         [](const FolderPattern& pattern) { return pattern.wildcard; });
    job.presenceKnown = true;
    job.presence = ItemStatus::Folder::Present;
    if (anyWildcard || job.tree) {
        // One listing takes what every pattern with a wildcard would.
        const DWORD error = ListFolder(folder, std::wstring(), [&](const FolderEntry& entry) {
            if (stop_) return false;
            const DWORD attributes = entry.attributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // Left alone, whatever kind it is.
                if (!(attributes & FILE_ATTRIBUTE_HIDDEN) &&
                    (job.tree || CoveredByWildcard(job, LowerCase(entry.name), attributes)))
                    ++job.links;
                return true;
            }
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (job.tree && TreeEnters(attributes)) {
                    job.subfolders.push_back({entry.name, LowerCase(entry.name), entry.fileId});
                }
                return true;
            }
            std::wstring lower = LowerCase(entry.name);
            if (job.known.count(lower) || !CoveredByWildcard(job, lower, attributes)) return true;
            if (several) listed.insert(lower);
            Open(job, folder, entry.name, std::move(lower), Reason::Listed, entry.fileId);
            return MaybeHandIn(job);
        });
        if (job.abandoned) return;
        if (error != ERROR_SUCCESS) {
            job.presence = PresenceAfter(error, job.path);
            return;
        }
    }
    for (const FolderPattern& pattern : job.patterns) {
        if (stop_ || job.abandoned) return;
        if (pattern.wildcard || job.known.count(pattern.lower) || listed.count(pattern.lower)) continue;
        Open(job, folder, pattern.name, pattern.lower, Reason::Named);
        if (several) job.known.insert(pattern.lower);
    }
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
    const auto pinned = pinned_.find(watch->folderKey);
    if (pinned != pinned_.end() && pinned->second == watch->serial) pinned_.erase(pinned);
    watches_.erase(watch->serial);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    event.presence = attributes != INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Present
                                                           : PresenceAfter(::GetLastError(), path);
    return true;
}

std::size_t CountTreeEntries(const std::wstring& folder, std::size_t most,
                             const std::function<bool(const std::wstring& entry, bool isFolder)>& mayTake) {
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
                if (IsDots(found.cFileName) || !TreeEnters(attributes)) continue;
                std::wstring subfolder = JoinPath(current, found.cFileName);
                if (mayTake && !mayTake(subfolder, true)) return most + 1;
                pending.push_back(std::move(subfolder));
            } else if (attributes & (kNotLocked | FILE_ATTRIBUTE_REPARSE_POINT)) {
                continue;
            } else if (mayTake && !mayTake(JoinPath(current, found.cFileName), false)) {
                return most + 1;
            }
            ++entries;
        } while (entries <= most && ::FindNextFileW(search.Get(), &found));
    }
    return entries;
}

}  // namespace vaultmere
