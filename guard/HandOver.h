#pragma once
// The guard replaced without a moment in which the files are free. The
// guard that goes, when setup asked it to, gives duplicates of its file
// handles to a holder (a copy of its own program that only waits) before
// it lets go; the guard that comes takes them from the holder before it
// locks anything, and its locker uses them in place of opening those files
// again. A holder has no way in: no pipe, no window, and a process only the
// system may open; it ends when the next guard takes its handles, or after
// kHolderWaitSeconds, whichever comes first.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

#include "common/UniqueHandle.h"
#include "locker/FileLocker.h"

namespace vaultmere {

// How long a holder keeps the files when no guard takes them: ample for an
// update, short enough that a guard that does not come back locks no one
// out for long.
constexpr DWORD kHolderWaitSeconds = 120;
constexpr wchar_t kHolderArgument[] = L"hold";
constexpr wchar_t kHolderFileName[] = L"VaultmereHold.exe";

// The holder's program file, beside the guard's: a copy, so that the
// guard's own file is free to be replaced while the holder runs.
std::wstring HolderFile();

// The process as a holder: waits, then ends, which lets every handle go.
int RunHolder();

// Starts a holder, duplicates every file the locker holds into it and
// records which process holds which handles. false when no holder could
// be started or recorded: the files are then let go as at any stop.
bool HandOverToHolder(const FileLocker& locker);

// The files a holder kept, taken at the guard's start.
class TakenFiles {
public:
    // Takes every handle of the recorded holder, which must run this
    // guard's holder file as this guard's user, and ends it. Returns how
    // many files were taken.
    std::size_t TakeFromHolder();
    // The taken handle of name in folder, if there is one: the locker's
    // open of that file.
    UniqueHandle Take(HANDLE folder, const std::wstring& name);
    bool Empty() const { return !any_; }
    // What the locker did not take is let go.
    void Clear();

private:
    std::mutex lock_;
    std::unordered_map<std::wstring, UniqueHandle> files_;  // by final path, lower-cased
    std::atomic<bool> any_{false};
};

}  // namespace vaultmere
