// The items and their folders: locking, unlocking, the files each folder
// holds. Trees, shares, planning and the lanes' findings are beside it.
#include "locker/LockerState.h"

#include <algorithm>

#include "locker/NamePattern.h"

namespace vaultmere {

std::wstring LockerState::Lock(const ItemKey& item, std::uint64_t now, const ApprovedFolder& approved) {
    lastLock_ = now;
    const auto existing = items_.find(item.key);
    if (existing != items_.end()) {
        ++existing->second.lockCount;
        // Locked again: what appeared since is taken too.
        const auto folder = folders_.find(existing->second.folderKey);
        if (folder == folders_.end()) return std::wstring();
        const auto tree = trees_.find(folder->first);
        std::vector<std::wstring> again{folder->first};
        if (existing->second.tree && tree != trees_.end())
            again.assign(tree->second.members.begin(), tree->second.members.end());
        for (const std::wstring& key : again) {
            Folder& each = folders_.at(key);
            each.scanDue = true;
            Queue(key, each);
        }
        return folder->second.root;
    }
    Item& added = items_[item.key];
    added.lockCount = 1;
    if (item.target.kind == ItemTarget::Kind::Refused) {
        added.refusal = ItemStatus::Refusal::NotAPath;
        return std::wstring();
    }
    added.folderKey = item.folder;
    added.pattern = item.name;
    added.tree = item.tree;
    const std::wstring path = ExtendedLengthPath(item.target.folder);
    if (item.tree) {
        trees_[item.folder];
        // A tree's own folder is always taken: nothing is let go for it.
        std::vector<FileToken> none;
        Join(item.folder, item.folder, path, none);
        Folder& top = folders_.at(item.folder);
        if (approved.fileId != 0) top.approved = approved;
        return top.root;
    }

    Folder& folder = FolderAt(item.folder, path);
    if (approved.fileId != 0) folder.approved = approved;
    // What a tree turned away is for this item to take.
    folder.turnedAway.clear();
    FolderPattern pattern;
    pattern.name = item.target.name;
    pattern.lower = item.name;
    pattern.wildcard = item.target.kind == ItemTarget::Kind::Pattern;
    folder.patterns.push_back(std::move(pattern));
    Reassign(item.folder, folder);
    folder.scanDue = true;
    Queue(item.folder, folder);
    return folder.root;
}

LockerState::Folder& LockerState::FolderAt(const std::wstring& folderKey, const std::wstring& path) {
    auto slot = folders_.find(folderKey);
    if (slot == folders_.end()) {
        Folder created;
        created.serial = nextSerial_++;
        created.path = path;
        created.root = VolumeRoot(ExtendedLengthPath(folderKey));
        slot = folders_.emplace(folderKey, std::move(created)).first;
        ++lanes_[slot->second.root].folders;
    }
    return slot->second;
}

void LockerState::DropPatterns(FolderMap::iterator found, const std::function<bool(const FolderPattern&)>& drop,
                               std::vector<FileToken>& released) {
    Folder& folder = found->second;
    folder.patterns.erase(std::remove_if(folder.patterns.begin(), folder.patterns.end(), drop), folder.patterns.end());
    Reassign(found->first, folder);
    if (!folder.patterns.empty()) {
        // What no remaining pattern covers goes free.
        for (auto it = folder.held.begin(); it != folder.held.end();) {
            it = Covers(folder, it->first) ? std::next(it) : LetGo(folder, it, released);
        }
        for (auto it = folder.waiting.begin(); it != folder.waiting.end();) {
            it = Covers(folder, it->first) ? std::next(it) : folder.waiting.erase(it);
        }
        for (auto* names : {&folder.turnedAway, &folder.linkedElsewhere}) {
            for (auto it = names->begin(); it != names->end();)
                it = Covers(folder, *it) ? std::next(it) : names->erase(it);
        }
        return;
    }
    LetGoAll(folder, released);
    Lane& lane = lanes_[folder.root];
    lane.retired.push_back(folder.serial);
    --lane.folders;
    folders_.erase(found);
    if (folders_.empty()) {
        heldIds_.Clear();
    }
}

LockerState::Unlocked LockerState::Unlock(const std::wstring& key, std::vector<FileToken>& released) {
    Unlocked result;
    const auto item = items_.find(key);
    if (item == items_.end() || --item->second.lockCount > 0) return result;
    const std::wstring folderKey = item->second.folderKey;
    const std::wstring pattern = item->second.pattern;
    const bool tree = item->second.tree;
    items_.erase(item);
    const auto found = folders_.find(folderKey);
    if (folderKey.empty() || found == folders_.end()) return result;
    result.root = found->second.root;

    if (tree) {
        const auto members = trees_.find(folderKey);
        if (members != trees_.end()) {
            const std::vector<std::wstring> keys(members->second.members.begin(), members->second.members.end());
            for (const std::wstring& each : keys) Leave(folderKey, each, released);
            trees_.erase(folderKey);
        }
    } else {
        DropPatterns(
            found, [&](const FolderPattern& each) { return each.tree.empty() && each.lower == pattern; }, released);
    }
    const auto lane = lanes_.find(result.root);
    result.rootIdle = lane == lanes_.end() || lane->second.folders == 0;
    result.retryRoots = RetryTurnedAway();
    return result;
}

std::vector<std::wstring> LockerState::RetryTurnedAway() {
    std::unordered_set<std::wstring> roots;
    auto again = [&](const std::wstring& key) {
        const auto found = folders_.find(key);
        if (found == folders_.end()) return;
        found->second.scanDue = true;
        Queue(key, found->second);
        roots.insert(found->second.root);
    };
    roomFreed_ = false;
    for (auto& entry : folders_) {
        Folder& folder = entry.second;
        for (auto& waiting : folder.waiting) {
            if (waiting.second.failure != Failure::Linked) continue;
            waiting.second.due = 0;
            roots.insert(folder.root);
        }
        if (folder.turnedAway.empty()) continue;
        folder.turnedAway.clear();
        again(entry.first);
    }
    // A subfolder turned away is found again by its parent's listing.
    for (auto& entry : trees_) {
        for (const auto& turned : entry.second.foldersTurnedAway) again(ParentFolder(turned.first));
        entry.second.foldersTurnedAway.clear();
    }
    return std::vector<std::wstring>(roots.begin(), roots.end());
}

std::vector<std::wstring> LockerState::RetryWhereRoomFreed() {
    if (!roomFreed_) return {};
    return RetryTurnedAway();
}

void LockerState::ReleaseAll(std::vector<FileToken>& released) {
    for (auto& folder : folders_) {
        for (auto& entry : folder.second.held) released.push_back(std::move(entry.second.file));
    }
    folders_.clear();
    accounts_.Clear();
    heldIds_.Clear();
    items_.clear();
    trees_.clear();
    lanes_.clear();
}

bool LockerState::Covers(const Folder& folder, const std::wstring& lower) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.wildcard ? NameMatchesPattern(pattern.lower, lower) : pattern.lower == lower) return true;
    }
    return false;
}

void LockerState::Queue(const std::wstring& folderKey, Folder& folder) {
    if (folder.queued) return;
    folder.queued = true;
    lanes_[folder.root].queue.emplace_back(folderKey, folder.serial);
}

LockerState::Folder* LockerState::Find(const std::wstring& folderKey, std::uint64_t serial) {
    const auto found = folders_.find(folderKey);
    return found == folders_.end() || found->second.serial != serial ? nullptr : &found->second;
}

bool LockerState::Wanted(const std::wstring& folderKey, std::uint64_t serial) const {
    const auto found = folders_.find(folderKey);
    return found != folders_.end() && found->second.serial == serial;
}

void LockerState::Hold(Folder& folder, std::wstring lower, FileToken file, std::int64_t fileId) {
    heldIds_.Add(folder.volume, fileId);
    const auto id = static_cast<std::uint64_t>(fileId);
    folder.held.emplace(std::move(lower), HeldFile{std::move(file), static_cast<std::uint32_t>(id),
                                                   static_cast<std::uint32_t>(id >> 32), nextOrder_++});
    accounts_.Charge(folder.account, 1);
}

LockerState::HeldMap::iterator LockerState::LetGo(Folder& folder, HeldMap::iterator held,
                                                  std::vector<FileToken>& released) {
    heldIds_.Remove(folder.volume, held->second.Id());
    released.push_back(std::move(held->second.file));
    roomFreed_ = true;
    accounts_.Uncharge(folder.account, 1);
    return folder.held.erase(held);
}

void LockerState::LetGoAll(Folder& folder, std::vector<FileToken>& released) {
    for (auto it = folder.held.begin(); it != folder.held.end();) it = LetGo(folder, it, released);
}

bool LockerState::Holds(const Folder& folder, const FileOutcome& outcome) {
    // Another file under the same name but for case is another file: only a
    // case-sensitive folder can hold both.
    const auto same = folder.held.equal_range(outcome.lower);
    return std::any_of(same.first, same.second, [&](const HeldMap::value_type& held) {
        return held.second.Id() == 0 || outcome.fileId == 0 || held.second.Id() == outcome.fileId;
    });
}

}  // namespace vaultmere
