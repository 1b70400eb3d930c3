#pragma once
// The pipe's answer to one request of a keeper that a lock guards.
#include <functional>
#include <mutex>

#include "channel/GuardPipe.h"
#include "guard/ListKeeper.h"

namespace vaultmere {

// A Lock Folder that the gate must check (which may list a whole tree) is
// answered on a worker while its connection waits, so that every other
// connection is answered meanwhile; any other request at once. answer runs
// under the lock with the keeper's reply and makes what is sent.
PipeAnswer AnswerCheckingOffLoop(ListKeeper& keeper, std::mutex& lock, ConnectionId connection, GuardMessage request,
                                 std::function<PipeAnswer(const KeeperReply&)> answer);

}  // namespace vaultmere
