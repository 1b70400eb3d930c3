#pragma once
// Which connections the guard's pipe takes. Each client is known by its
// process and that process's user from the moment it connects. Connections
// that have not given the password are few per process and per user, one
// user's connections are a small share of all, and a connection without
// the password that keeps quiet (no whole first message soon after it
// came, or nothing more a while after an answer) is closed: no program
// crowds the window copies out by connecting and keeping quiet.
// No Windows headers: the decisions are plain and tested directly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vaultmere {

struct PipeLimits {
    std::size_t total = 60;             // every connection together
    std::size_t perUser = 8;            // one user's, with the password or without
    std::size_t waitingPerUser = 4;     // one user's without the password
    std::size_t waitingPerProcess = 2;  // one process's without the password
    std::uint64_t firstMessageMs = 2000;
    // After each answer to a connection without the password, until its
    // next whole message.
    std::uint64_t nextMessageMs = 30000;
};

// The session of a client whose session cannot be read either.
constexpr std::uint32_t kUnknownSession = 0xFFFFFFFFu;

class PipeAdmission {
public:
    // The server's own number for a connection, from the moment it connects.
    using Key = std::uint64_t;

    explicit PipeAdmission(PipeLimits limits = PipeLimits()) : limits_(limits) {}

    const PipeLimits& Limits() const { return limits_; }

    // A client just connected: whether it may stay. user is the SID of its
    // process's user as text; clients whose user cannot be read ("", as a
    // user may deny the system its own process) are counted as one user
    // per session, so that one session's cannot take every other's share.
    bool Admit(Key key, std::uint32_t process, const std::wstring& user, std::uint32_t session, std::uint64_t now);
    // Its answer goes at sendAt, authenticated saying whether it has given
    // the password (and not given it up since). One that has not must send
    // its next whole message within nextMessageMs of sendAt; one that has
    // keeps no deadline.
    void Answered(Key key, bool authenticated, std::uint64_t sendAt);
    // Its answer is being worked out: no deadline runs until it is answered.
    void Working(Key key);
    void Closed(Key key);

    // The connections whose next message is overdue at now.
    std::vector<Key> Overdue(std::uint64_t now) const;
    // When the next message falls due; 0 when none is awaited.
    std::uint64_t NextDeadline() const;

private:
    struct Client {
        std::uint32_t process = 0;
        std::wstring user;           // or the session's "session:N"
        std::uint64_t deadline = 0;  // 0 when none
        bool authenticated = false;
    };

    PipeLimits limits_;
    std::map<Key, Client> clients_;
};

}  // namespace vaultmere
