#include "guard/PasswordThrottle.h"

#include <algorithm>

namespace vaultmere {

std::uint64_t PasswordThrottle::DelayAfter(unsigned wrongInARow) {
    if (wrongInARow == 0) return 0;
    std::uint64_t delay = kFirstDelayMs;
    for (unsigned i = 1; i < wrongInARow && delay < kLongestDelayMs; ++i) delay *= 2;
    return std::min(delay, kLongestDelayMs);
}

std::uint64_t PasswordThrottle::Begin(const std::wstring& user, std::uint64_t now) {
    // Users whose turn has come and who owe nothing are forgotten.
    for (auto it = turns_.begin(); it != turns_.end();) {
        it = it->second.wrongInARow == 0 && it->second.nextCheck <= now ? turns_.erase(it) : std::next(it);
    }
    Turn& turn = turns_[user];
    const std::uint64_t check = std::max(now, turn.nextCheck);
    ++turn.wrongInARow;
    turn.nextCheck = check + DelayAfter(turn.wrongInARow);
    return check;
}

std::uint64_t PasswordThrottle::WaitAfter(const std::wstring& user, std::uint64_t now) const {
    const auto found = turns_.find(user);
    return found == turns_.end() || found->second.nextCheck <= now ? 0 : found->second.nextCheck - now;
}

void PasswordThrottle::Right(const std::wstring& user, std::uint64_t checkedAt) {
    const auto found = turns_.find(user);
    if (found == turns_.end()) return;
    found->second.wrongInARow = 0;
    found->second.nextCheck = std::min(found->second.nextCheck, checkedAt);
}

}  // namespace vaultmere
