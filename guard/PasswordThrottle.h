#pragma once
// How long each user waits before a password is checked: after a wrong
// one, that user's next attempt is checked no sooner than a second after
// it, twice as long after each further wrong one, up to 30 s; the
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

    // An attempt of user arriving at now: the time it may be checked, never
    // before now. It counts as wrong until Right says otherwise, so that
    // attempts sent together still wait their turns.
    std::uint64_t Begin(const std::wstring& user, std::uint64_t now);
    // The attempt checked at checkedAt was right: the next need not wait.
    void Right(const std::wstring& user, std::uint64_t checkedAt);

    // How long after now the user's next attempt would wait (0: none).
    std::uint64_t WaitAfter(const std::wstring& user, std::uint64_t now) const;

    // The wait after that many wrong passwords in a row.
    static std::uint64_t DelayAfter(unsigned wrongInARow);

private:
    struct Turn {
        unsigned wrongInARow = 0;
        std::uint64_t nextCheck = 0;  // no attempt of this user checked before then
    };
    std::map<std::wstring, Turn> turns_;
};

}  // namespace vaultmere
