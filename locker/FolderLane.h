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
#include "locker/LockerState.h"

namespace vaultmere {

// Opens one file to lock it; on failure the last error says why.
using FileOpener = std::function<UniqueHandle(const std::wstring& extendedPath)>;

// Opens one file the way the component locks it: read access, no sharing,
// not inheritable. Exposed so that benchmarks can compare against it.
UniqueHandle OpenFileLocked(const std::wstring& extendedPath);

// A junction, a symbolic link or a mount point: another place's name. A
// folder locked with its subfolders neither enters nor opens these; other
// reparse points (files kept in the cloud, say) are ordinary to it.
bool IsLink(DWORD attributes, DWORD reparseTag);
// Whether a folder locked with its subfolders enters a subfolder listed
// with these attributes: not a hidden one, and no link.
bool TreeEnters(DWORD attributes, DWORD reparseTag);

// What locking folder with its subfolders would hold: its files and
// subfolders at any depth that a tree covers and enters, counted until past
// most. mayEnter, when given, is asked about each subfolder (as an absolute
// path) before it is counted; false stops the count at most + 1. A folder
// that cannot be read counts as empty.
std::size_t CountTreeEntries(const std::wstring& folder, std::size_t most,
                             const std::function<bool(const std::wstring& subfolder)>& mayEnter = nullptr);

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
    // stop, when set, cuts a long listing short.
    FolderLane(HANDLE port, FileOpener open, const std::atomic<bool>& stop);
    // Closes every watch; waits a bounded time for the cancelled reads.
    ~FolderLane();
    FolderLane(const FolderLane&) = delete;
    FolderLane& operator=(const FolderLane&) = delete;

    // handIn takes the files opened so far during a long listing, so that
    // they are held (and shown) before the listing ends.
    void Do(FolderJob& job, const std::function<void(FolderJob&)>& handIn);
    // The folder went: its watch ends and its pin goes.
    void Retire(std::uint64_t serial);
    // Takes one packet from the port, waiting at most timeoutMs. False on a
    // timeout or a wake-up; true with a watch's news.
    bool NextEvent(DWORD timeoutMs, WatchEvent& event);

private:
    struct Watch;

    void Work(FolderJob& job);
    bool StartWatch(FolderJob& job);
    void List(FolderJob& job, const std::wstring& prefix);
    // Every entry at once, for a folder of a tree.
    void ListTree(FolderJob& job, const std::wstring& prefix);
    void Open(FolderJob& job, const std::wstring& name, std::wstring lower, const std::wstring& prefix);
    void Close(std::unique_ptr<Watch> watch);
    // Hands the files opened so far in when there are many.
    void MaybeHandIn(FolderJob& job);

    HANDLE port_;
    FileOpener open_;
    const std::atomic<bool>& stop_;
    const std::function<void(FolderJob&)>* handIn_ = nullptr;
    std::unordered_map<std::uint64_t, std::unique_ptr<Watch>> watches_;
    // Watches whose cancelled read has not reported back yet.
    std::vector<std::unique_ptr<Watch>> cancelled_;
};

}  // namespace vaultmere
