#pragma once
// The handles the component uses, by account against its budget. An
// account is the plain items of one folder together (keyed by the folder)
// or one tree (keyed by TreeAccount of its top folder); each item known has
// an equal share that no other item can take. Room an account leaves
// unused is lent to others, and taken back when its owner needs it (the
// state decides which files go).
#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vaultmere {

class HandleAccounts {
public:
    explicit HandleAccounts(std::size_t budget) : budget_(budget) {}

    static std::wstring TreeAccount(const std::wstring& top) { return L'*' + top; }
    static bool IsTree(const std::wstring& account) { return !account.empty() && account[0] == L'*'; }

    void Charge(const std::wstring& account, std::size_t handles) {
        used_[account] += handles;
        usedAll_ += handles;
    }
    void Uncharge(const std::wstring& account, std::size_t handles) {
        const auto found = used_.find(account);
        if (found == used_.end()) return;
        const std::size_t taken = std::min(found->second, handles);
        found->second -= taken;
        usedAll_ -= std::min(usedAll_, taken);
        if (found->second == 0) used_.erase(found);
    }
    std::size_t UsedBy(const std::wstring& account) const {
        const auto found = used_.find(account);
        return found == used_.end() ? 0 : found->second;
    }
    std::size_t Used() const { return usedAll_; }
    std::size_t Budget() const { return budget_; }
    std::size_t Free() const { return budget_ > usedAll_ ? budget_ - usedAll_ : 0; }
    // The accounts other than except over their shares, and by how much,
    // those furthest over first.
    template <typename ShareOf>
    std::vector<std::pair<std::wstring, std::size_t>> OverShares(const std::wstring& except, ShareOf shareOf) const {
        std::vector<std::pair<std::wstring, std::size_t>> over;
        for (const auto& each : used_) {
            const std::size_t share = shareOf(each.first);
            if (each.first != except && each.second > share) over.emplace_back(each.first, each.second - share);
        }
        std::sort(over.begin(), over.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        return over;
    }
    void Clear() {
        used_.clear();
        usedAll_ = 0;
    }

private:
    std::size_t budget_;
    std::unordered_map<std::wstring, std::size_t> used_;
    std::size_t usedAll_ = 0;
};

}  // namespace vaultmere
