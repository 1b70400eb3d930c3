#include "guard/CheckedAnswer.h"

#include <utility>

namespace vaultmere {

PipeAnswer AnswerCheckingOffLoop(ListKeeper& keeper, std::mutex& lock, ConnectionId connection, GuardMessage request,
                                 std::function<PipeAnswer(const KeeperReply&)> answer) {
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!keeper.NeedsCheck(connection, request)) return answer(keeper.Reply(connection, request));
    }
    return PipeAnswer::Later(0, [&keeper, &lock, connection, request = std::move(request), answer = std::move(answer)] {
        PipeAnswer sent;
        ReplyCheckedOutside(keeper, lock, connection, request,
                            [&sent, &answer](const KeeperReply& reply) { sent = answer(reply); });
        return sent;
    });
}

}  // namespace vaultmere
