#pragma once
// The component's disk and network side: listing folders, opening files,
// pinning and watching folders. A lane does the jobs LockerState plans for
// the folders of one drive or share, on the lane's own thread and never
// under the component's mutex, so a share that takes a minute to answer
// holds up only its own lane. Not thread-safe: one thread uses a lane.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/UniqueHandle.h"
#include "locker/BoundedOpener.h"
#include "locker/LockRule.h"
#include "locker/LockerState.h"

namespace vaultmere {

// Opens one file the way the component locks it: read access, no sharing,
// not inheritable, reached from its folder's handle without following a
// link, and without waiting for an opportunistic lock to be given back.
UniqueHandle OpenFileLocked(HANDLE folder, const std::wstring& name);
// The same by full path, the way another program opens: for benchmarks.
UniqueHandle OpenFileLockedByName(const std::wstring& extendedPath);

// Whether a folder locked with its subfolders enters a subfolder listed
// with these attributes: not a hidden one, and no reparse point of any kind
// (a junction, a link, a mount point lead somewhere else).
bool TreeEnters(DWORD attributes);
// Whether a folder item's wildcard covers a file listed with these
// attributes: not a folder, a hidden file (the user-facing texts promise
// they stay open), a device or a link. A name given on its own covers its
// file whatever they are.
bool WildcardCovers(DWORD attributes);

// What locking folder with its subfolders would hold: its files and
// subfolders at any depth that a tree covers and enters, counted until past
// most. mayTake, when given, is asked about each file and subfolder (as an
// absolute path) before it is counted; false stops the count at most + 1. A
// folder that cannot be read counts as empty.
std::size_t CountTreeEntries(const std::wstring& folder, std::size_t most,
                             const std::function<bool(const std::wstring& entry, bool isFolder)>& mayTake = nullptr);

// What one finished watch read brought.
struct WatchEvent {
    enum class Kind { Changes, Overflow, Lost };
    Kind kind = Kind::Changes;
    std::wstring folderKey;
    std::uint64_t serial = 0;
    std::vector<FolderChange> changes;
    ItemStatus::Folder presence = ItemStatus::Folder::Present;  // after a loss
};

class FolderLane {
public:
    // stop, when set, cuts a long listing short; a change of unlocks makes
    // a listing hand in at once and ask whether its folder is still wanted.
    FolderLane(HANDLE port, FileOpener open, const LockRule& rule, const std::atomic<bool>& stop,
               const std::atomic<unsigned>* unlocks = nullptr);
    // Closes every watch; waits a bounded time for the cancelled reads.
    ~FolderLane();
    FolderLane(const FolderLane&) = delete;
    FolderLane& operator=(const FolderLane&) = delete;

    // Does a round of jobs. Each folder is pinned first, and judged by the
    // rule on the handle; whatever is in it is reached through that. Their
    // files are opened a batch at a time across the round's folders.
    // handIn takes a folder's files opened so far when there are many, so
    // that they are held (and shown) before the round ends, and says whether
    // the folder is still wanted.
    void Do(std::vector<FolderJob>& jobs, const std::function<bool(FolderJob&)>& handIn);
    // The folder went: its watch ends and its pin goes.
    void Retire(std::uint64_t serial);
    // Takes one packet from the port, waiting at most timeoutMs. False on a
    // timeout or a wake-up; true with a watch's news.
    bool NextEvent(DWORD timeoutMs, WatchEvent& event);

private:
    struct Watch;

    void Work(FolderJob& job);
    // The folder's pin, opened (and judged) when it has none; null when
    // the folder is missing or refused, as the job then says.
    Watch* Pin(FolderJob& job);
    // Whether the folder pinned is the one a check approved for the job's
    // item, where one did; if not, the job is refused.
    static bool Approves(FolderJob& job, Watch& pin);
    void List(FolderJob& job, HANDLE folder);
    // Why a file is opened, for what is checked once it is.
    enum class Reason { Listed, Named, Retried };
    // Queues one file of job to open from folder; Flush opens the queue.
    // fileId: as a listing gave it a moment before, 0 when unknown.
    void Open(FolderJob& job, HANDLE folder, const std::wstring& name, std::wstring lower, Reason reason,
              std::int64_t fileId = 0);
    void Flush();
    void Close(std::unique_ptr<Watch> watch);
    // Hands the files opened so far in when there are many, or an item was
    // unlocked meanwhile; false when the folder is no longer wanted.
    bool MaybeHandIn(FolderJob& job);
    void HandIn(FolderJob& job);
    // An item was unlocked: each folder with files queued from first on is
    // asked whether it is still wanted, and the files of those that are
    // not are dropped.
    void AskWanted(std::size_t first);

    HANDLE port_;
    BoundedOpener opener_;
    struct Queued {
        FolderJob* job = nullptr;
        Reason reason = Reason::Listed;
        std::int64_t fileId = 0;
    };
    std::vector<OpenRequest> requests_;  // to open, and beside each
    std::vector<Queued> queued_;
    std::vector<OpenResult> opened_;
    // The round's listing handles, which the queued opens reach files through.
    std::vector<UniqueHandle> listings_;
    const LockRule& rule_;
    const std::atomic<bool>& stop_;
    const std::atomic<unsigned>* unlocks_;
    unsigned unlocksSeen_ = 0;
    const std::function<bool(FolderJob&)>* handIn_ = nullptr;
    // Every folder pinned, by serial; watched or not.
    std::unordered_map<std::uint64_t, std::unique_ptr<Watch>> watches_;
    std::unordered_map<std::wstring, std::uint64_t> pinned_;  // folder key to serial
    // Watches whose cancelled read has not reported back yet.
    std::vector<std::unique_ptr<Watch>> cancelled_;
};

}  // namespace vaultmere
