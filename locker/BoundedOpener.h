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

struct OpenResult {
    UniqueHandle file;
    DWORD error = ERROR_SUCCESS;
};

class BoundedOpener {
public:
    // stop and unlocks (when given) cut a batch short: the lane is ending,
    // or an item was unlocked and the lane asks whether it still wants the rest.
    BoundedOpener(FileOpener open, const std::atomic<bool>& stop, const std::atomic<unsigned>* unlocks);
    // Never waits for an open under way.
    ~BoundedOpener();
    BoundedOpener(const BoundedOpener&) = delete;
    BoundedOpener& operator=(const BoundedOpener&) = delete;

    // Opens names[first], names[first + 1] ... from folder, appending one
    // result each, until every one is done, the lane stops, or *unlocks is
    // no longer seen. A name of folderKey whose open was left behind and has
    // not returned yet is not opened again: it times out at once.
    void Run(HANDLE folder, const std::wstring& folderKey, const std::vector<std::wstring>& names, std::size_t first,
             unsigned seen, std::vector<OpenResult>& results);

    struct Worker;

private:
    // The thread for the next batch; false when none can be started.
    bool Ready();
    // Forgets the opens left behind that have returned.
    void Prune();
    bool LeftBehind(const std::wstring& folderKey, const std::wstring& name) const;

    FileOpener open_;
    const std::atomic<bool>& stop_;
    const std::atomic<unsigned>* unlocks_;
    std::shared_ptr<Worker> worker_;
    struct Behind {
        std::shared_ptr<Worker> worker;
        std::wstring key;
    };
    std::vector<Behind> behind_;
};

}  // namespace vaultmere
