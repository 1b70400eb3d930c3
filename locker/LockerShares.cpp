// The shares of the handle budget: which account a folder's handles count
// against, and room taken back from those over their shares.
#include <algorithm>

#include "locker/LockerState.h"

namespace vaultmere {

std::wstring LockerState::AccountOf(const std::wstring& folderKey, const Folder& folder) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) return folderKey;
    }
    return folder.patterns.empty() ? std::wstring() : HandleAccounts::TreeAccount(folder.patterns.front().tree);
}

void LockerState::Reassign(const std::wstring& folderKey, Folder& folder) {
    const std::wstring account = AccountOf(folderKey, folder);
    if (account == folder.account) return;
    // Each folder is one pin at most.
    const std::size_t handles = 1 + folder.held.size();
    if (!folder.account.empty()) accounts_.Uncharge(folder.account, handles);
    if (!account.empty()) accounts_.Charge(account, handles);
    folder.account = account;
}

std::size_t LockerState::ShareOf(const std::wstring& account) const {
    const std::size_t each = accounts_.Budget() / std::max<std::size_t>({itemsKnown_, items_.size(), 1});
    if (account.empty() || HandleAccounts::IsTree(account)) return each;
    const auto folder = folders_.find(account);
    if (folder == folders_.end()) return each;
    const auto plain = std::count_if(folder->second.patterns.begin(), folder->second.patterns.end(),
                                     [](const FolderPattern& pattern) { return pattern.tree.empty(); });
    return each * static_cast<std::size_t>(std::max<std::ptrdiff_t>(plain, 1));
}

std::size_t LockerState::MakeRoom(const std::wstring& account, std::size_t wanted, std::vector<FileToken>& released) {
    const std::size_t mine = accounts_.UsedBy(account);
    const std::size_t share = ShareOf(account);
    const std::size_t owed = share > mine ? std::min(wanted, share - mine) : 0;
    // An item's own pin is taken without asking: others may be over the budget by it.
    const std::size_t budget = accounts_.Budget();
    if (accounts_.Used() + owed > budget) TakeBack(account, accounts_.Used() + owed - budget, released);
    return accounts_.Free();
}

void LockerState::TakeBack(const std::wstring& account, std::size_t count, std::vector<FileToken>& released) {
    // Room taken back from one item to give to another is no room freed.
    const bool roomFreed = roomFreed_;
    struct Lent {
        std::uint32_t order;
        Folder* folder;
        HeldMap::iterator held;
    };
    // Those furthest over their shares give back first.
    const auto over = accounts_.OverShares(account, [this](const std::wstring& each) { return ShareOf(each); });
    for (const auto& borrower : over) {
        if (count == 0) break;
        std::vector<Lent> lent;
        for (auto& entry : folders_) {
            Folder& folder = entry.second;
            if (folder.account != borrower.first) continue;
            for (auto held = folder.held.begin(); held != folder.held.end(); ++held) {
                lent.push_back({held->second.order, &folder, held});
            }
        }
        const std::size_t back = std::min({count, borrower.second, lent.size()});
        std::nth_element(lent.begin(), lent.begin() + static_cast<std::ptrdiff_t>(back), lent.end(),
                         [](const Lent& a, const Lent& b) { return a.order > b.order; });
        for (std::size_t i = 0; i < back; ++i) {
            Folder& folder = *lent[i].folder;
            folder.turnedAway.insert(lent[i].held->first);
            LetGo(folder, lent[i].held, released);
            Count(folder, 0, 1);
        }
        count -= back;
    }
    roomFreed_ = roomFreed;
}

}  // namespace vaultmere
