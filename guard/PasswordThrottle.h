#pragma once
// How long each user waits for the answer to a password: after a wrong
// one, that user's next attempt is answered no sooner than a second after
// the answer, twice as long after each further wrong one, up to 30 s; the
// right one ends the wait for the attempts after it. Attempts of one user
// take their turns whichever connection they come on, so that neither a new
// connection nor several at once shorten the wait. Plain: the caller gives
// the time, in milliseconds of a steady clock.
#include <cstdint>
#include <map>
#include <string>

namespace vaultmere {

class PasswordThrottle {
public:
    static constexpr std::uint64_t kFirstDelayMs = 1000;
    static constexpr std::uint64_t kLongestDelayMs = 30000;

    // An attempt of user arriving at now, right or not: the time its answer
    // may be sent, never before now.
    std::uint64_t Attempt(const std::wstring& user, bool right, std::uint64_t now);

    // The wait after that many wrong passwords in a row.
    static std::uint64_t DelayAfter(unsigned wrongInARow);

private:
    struct Turn {
        unsigned wrongInARow = 0;
        std::uint64_t nextAnswer = 0;  // no answer to this user before then
    };
    std::map<std::wstring, Turn> turns_;
};

}  // namespace vaultmere
