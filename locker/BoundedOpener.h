#pragma once
// A lane's file opens, run a batch at a time on a thread of their own, so
// that an open that does not return (a share that stopped answering, a
// filter or a lock holder that never lets go) holds up that file alone.
// Past the deadline the open is left behind and noted as timed out, and the
// rest of the batch goes on on a fresh thread. An open left behind closes
// what it opens once it returns and touches nothing of the lane. Not
// thread-safe: one lane uses it.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

namespace vaultmere {

// Opens one file of a folder (a handle on it) to lock it; on failure the
// last error says why.
using FileOpener = std::function<UniqueHandle(HANDLE folder, const std::wstring& name)>;

// How long one open may take before the lane goes on without it.
constexpr DWORD kOpenDeadlineMs = 2000;
// Opens left behind on one lane at most; past them every open of the lane
// is noted as timed out until one returns.
constexpr std::size_t kMostLeftBehind = 16;

// One file to open: its folder (a handle the lane keeps open until the
// batch is done) and the folder's key, its name as listed and lower-cased.
struct OpenRequest {
    HANDLE folder = nullptr;
    const std::wstring* folderKey = nullptr;
    std::wstring name;
    std::wstring lower;
};

struct OpenResult {
    UniqueHandle file;
    DWORD error = ERROR_SUCCESS;
};

class BoundedOpener {
public:
    // stop and unlocks (when given) cut a batch short: the lane is ending,
    // or an item was unlocked and the lane asks whether it still wants the rest.
    BoundedOpener(FileOpener open, const std::atomic<bool>& stop, const std::atomic<unsigned>* unlocks);
    // Never waits for an open under way; an idle thread is seen to its end.
    // Its thread starts at once: it is
    // one of the lane's threads, whether or not the lane has files to open.
    ~BoundedOpener();
    BoundedOpener(const BoundedOpener&) = delete;
    BoundedOpener& operator=(const BoundedOpener&) = delete;

    // Opens requests[first], requests[first + 1] ..., appending one result
    // each, until every one is done, the lane stops, or *unlocks is no
    // longer seen. A file whose open was left behind and has not returned
    // yet is not opened again: it times out at once.
    void Run(const std::vector<OpenRequest>& requests, std::size_t first, unsigned seen,
             std::vector<OpenResult>& results);
    // A folder handle the lane lets go of: kept open while an open left
    // behind may still be reaching a file through it.
    void Keep(UniqueHandle folder);

    struct Worker;

private:
    // The thread for the next batch; false when none can be started.
    bool Ready();
    // Forgets the opens left behind that have returned.
    void Prune();
    bool LeftBehind(const OpenRequest& request) const;

    FileOpener open_;
    const std::atomic<bool>& stop_;
    const std::atomic<unsigned>* unlocks_;
    std::shared_ptr<Worker> worker_;
    UniqueHandle thread_;  // worker_'s
    struct Behind {
        std::shared_ptr<Worker> worker;
        std::wstring key;
        HANDLE folder = nullptr;
    };
    std::vector<Behind> behind_;
};

}  // namespace vaultmere
