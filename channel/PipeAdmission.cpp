#include "channel/PipeAdmission.h"

namespace vaultmere {

bool PipeAdmission::Admit(Key key, std::uint32_t process, const std::wstring& knownUser, std::uint32_t session,
                          std::uint64_t now) {
    if (clients_.size() >= limits_.total) return false;
    // No SID as text starts so.
    const std::wstring user = !knownUser.empty()           ? knownUser
                              : session == kUnknownSession ? std::wstring(L"session:?")
                                                           : L"session:" + std::to_wstring(session);
    std::size_t ofUser = 0;
    std::size_t waitingOfUser = 0;
    std::size_t waitingOfProcess = 0;
    for (const auto& entry : clients_) {
        const Client& client = entry.second;
        if (client.user != user) continue;
        ++ofUser;
        if (client.authenticated) continue;
        ++waitingOfUser;
        if (client.process == process) ++waitingOfProcess;
    }
    if (ofUser >= limits_.perUser || waitingOfUser >= limits_.waitingPerUser ||
        waitingOfProcess >= limits_.waitingPerProcess) {
        return false;
    }
    Client& client = clients_[key];
    client.process = process;
    client.user = user;
    client.deadline = now + limits_.firstMessageMs;
    return true;
}

void PipeAdmission::Answered(Key key, bool authenticated, std::uint64_t sendAt) {
    const auto found = clients_.find(key);
    if (found == clients_.end()) return;
    found->second.authenticated = authenticated;
    found->second.deadline = authenticated ? 0 : sendAt + limits_.nextMessageMs;
}

void PipeAdmission::Working(Key key) {
    const auto found = clients_.find(key);
    if (found != clients_.end()) found->second.deadline = 0;
}

void PipeAdmission::Closed(Key key) { clients_.erase(key); }

std::vector<PipeAdmission::Key> PipeAdmission::Overdue(std::uint64_t now) const {
    std::vector<Key> overdue;
    for (const auto& entry : clients_) {
        if (entry.second.deadline != 0 && entry.second.deadline <= now) overdue.push_back(entry.first);
    }
    return overdue;
}

std::uint64_t PipeAdmission::NextDeadline() const {
    std::uint64_t next = 0;
    for (const auto& entry : clients_) {
        const std::uint64_t deadline = entry.second.deadline;
        if (deadline != 0 && (next == 0 || deadline < next)) next = deadline;
    }
    return next;
}

}  // namespace vaultmere
