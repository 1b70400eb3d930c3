#include "guard/PasswordThrottle.h"

#include <algorithm>

namespace vaultmere {

std::uint64_t PasswordThrottle::DelayAfter(unsigned wrongInARow) {
    if (wrongInARow == 0) return 0;
    std::uint64_t delay = kFirstDelayMs;
    for (unsigned i = 1; i < wrongInARow && delay < kLongestDelayMs; ++i) delay *= 2;
    return std::min(delay, kLongestDelayMs);
}

std::uint64_t PasswordThrottle::Attempt(const std::wstring& user, bool right, std::uint64_t now) {
    // Users whose turn has come and who owe nothing are forgotten.
    for (auto it = turns_.begin(); it != turns_.end();) {
        it = it->second.wrongInARow == 0 && it->second.nextAnswer <= now ? turns_.erase(it) : std::next(it);
    }
    Turn& turn = turns_[user];
    const std::uint64_t answer = std::max(now, turn.nextAnswer);
    // A wrong attempt waiting for its turn still counts: the wait after it
    // runs from its own answer.
    turn.wrongInARow = right ? 0 : turn.wrongInARow + 1;
    turn.nextAnswer = answer + DelayAfter(turn.wrongInARow);
    return answer;
}

}  // namespace vaultmere
