#include "app/GuardConnection.h"

#include <utility>

#include "common/SecureText.h"

namespace vaultmere {

namespace {

// How long a request waits for a free pipe instance or for a starting guard
// to open its pipe: short, since requests come from the window thread (its
// notes, once a second, too); how long an answer may take.
constexpr DWORD kConnectWaitMs = 200;
constexpr DWORD kAnswerWaitMs = 10000;
// How long the first message on a connection made ahead of need may wait.
constexpr DWORD kGreetingWaitMs = 1000;
// The guard holds the answer to a password back after wrong ones, up to 30 s.
constexpr DWORD kPasswordAnswerWaitMs = 40000;

}  // namespace

GuardConnection::GuardConnection() : GuardConnection(Setup()) {}

GuardConnection::GuardConnection(Setup setup)
    : setup_(std::move(setup)), problem_(kGuardStarting), waitingSince_(::GetTickCount64()) {}

bool GuardConnection::Connect(DWORD waitMs) {
    const DWORD guard = setup_.guardProcess ? setup_.guardProcess() : 0;
    // Nothing is sent to a pipe that another process serves: with no guard
    // running, a pipe under its name is an impostor's.
    const DWORD error = client_.Connect(setup_.pipeName, guard, guard != 0 ? waitMs : 0);
    if (error == ERROR_SUCCESS) {
        problem_.clear();
        return true;
    }
    if (error == ERROR_ACCESS_DENIED) {
        problem_ = kGuardUnverified;
    } else if (::GetTickCount64() - waitingSince_ < setup_.startWaitMs) {
        problem_ = kGuardStarting;
    } else {
        // A guard that runs without its pipe keeps the folders locked; it
        // is only not reachable.
        problem_ = guard != 0 ? kGuardNotAnswering : kGuardNotRunning;
    }
    return false;
}

void GuardConnection::Tick() {
    if (client_.IsConnected() || !Connect(kConnectWaitMs)) return;
    // The guard closes a connection that stays silent: a first message at
    // once, answered with a refusal until the password is given. A
    // connection the guard did not take is tried again at the next retry.
    Bytes answer;
    if (client_.Transact(EncodeGuardMessage(GuardMessage::Request(GuardMessageKind::ReadLists)), answer,
                         kGreetingWaitMs) != ERROR_SUCCESS) {
        client_.Close();
        problem_ = kGuardNotAnswering;
    }
}

std::optional<GuardMessage> GuardConnection::Exchange(const GuardMessage& request) {
    Bytes bytes = EncodeGuardMessage(request);
    // The request may hold the password: wiped however this ends.
    struct Wiped {
        Bytes& bytes;
        ~Wiped() { WipeBytes(bytes); }
    } wiped{bytes};
    if (bytes.empty()) return std::nullopt;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!client_.IsConnected() && !Connect(kConnectWaitMs)) return std::nullopt;
        Bytes answer;
        const DWORD waitMs = request.kind == GuardMessageKind::Authenticate ? kPasswordAnswerWaitMs : kAnswerWaitMs;
        const DWORD error = client_.Transact(bytes, answer, waitMs);
        if (error == ERROR_SUCCESS) {
            std::optional<GuardMessage> decoded = DecodeGuardMessage(answer.data(), answer.size());
            if (decoded) {
                problem_.clear();
                return decoded;
            }
            client_.Close();
            problem_ = kGuardNotAnswering;
            return std::nullopt;
        }
        if (error == ERROR_TIMEOUT && client_.IsConnected()) {
            // Not asked again: the guard answers this connection's requests
            // in turn. The connection stays, and with it what it unlocked;
            // the answer is dropped when it comes.
            problem_ = kGuardStillWorking;
            return std::nullopt;
        }
        // The guard went away (stopped, restarted): once more on a new
        // connection, which it may take a while to accept.
        problem_ = kGuardNotAnswering;
        waitingSince_ = ::GetTickCount64();
    }
    return std::nullopt;
}

}  // namespace vaultmere
