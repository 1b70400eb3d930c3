// Folders locked with their subfolders: which folders a tree holds, and
// what it may hold within its limit.
#include <algorithm>

#include "locker/LockerState.h"
#include "locker/NamePattern.h"

namespace vaultmere {

bool LockerState::Join(const std::wstring& top, const std::wstring& folderKey, const std::wstring& path,
                       std::vector<FileToken>& released, std::int64_t listedId) {
    Tree& tree = trees_.at(top);
    if (tree.members.count(folderKey)) return false;
    if (folderKey != top) {
        // A folder of its own already has its pin.
        const bool pinned = folders_.count(folderKey) != 0;
        if (tree.entries >= treeLimit_ || (!pinned && MakeRoom(HandleAccounts::TreeAccount(top), 1, released) == 0)) {
            // Counted with what it holds by its parent's lane.
            if (tree.foldersTurnedAway.emplace(folderKey, 0).second) {
                const auto parent = folders_.find(ParentFolder(folderKey));
                if (parent != folders_.end()) {
                    parent->second.countDue = true;
                    Queue(parent->first, parent->second);
                }
            }
            return false;
        }
        ++tree.entries;
    }
    Folder& folder = FolderAt(folderKey, path);
    if (listedId != 0) folder.listedId = listedId;
    tree.members.insert(folderKey);
    // Files it held already for an item of its own count too.
    tree.entries += folder.held.size();
    FolderPattern pattern;
    pattern.name = L"*.*";
    pattern.lower = L"*.*";
    pattern.wildcard = true;
    pattern.tree = top;
    folder.patterns.push_back(std::move(pattern));
    Reassign(folderKey, folder);
    folder.scanDue = true;
    Queue(folderKey, folder);
    return true;
}

void LockerState::Leave(const std::wstring& top, const std::wstring& folderKey, std::vector<FileToken>& released) {
    const auto tree = trees_.find(top);
    const auto folder = folders_.find(folderKey);
    if (tree == trees_.end() || folder == folders_.end() || tree->second.members.erase(folderKey) == 0) return;
    Tree& left = tree->second;
    const std::size_t counted = folder->second.held.size() + (folderKey == top ? 0 : 1);
    left.entries -= std::min(left.entries, counted);
    roomFreed_ = true;
    DropPatterns(
        folder, [&top](const FolderPattern& pattern) { return pattern.tree == top; }, released);
}

std::vector<std::wstring> LockerState::TreesOf(const Folder& folder) {
    std::vector<std::wstring> trees;
    for (const FolderPattern& pattern : folder.patterns) {
        if (!pattern.tree.empty()) trees.push_back(pattern.tree);
    }
    return trees;
}

void LockerState::Count(const Folder& folder, std::size_t added, std::size_t removed) {
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) continue;
        const auto tree = trees_.find(pattern.tree);
        if (tree == trees_.end()) continue;
        std::size_t& entries = tree->second.entries;
        entries = entries + added - std::min(entries + added, removed);
    }
}

bool LockerState::Admits(const Folder& folder, const std::wstring& lower) const {
    bool inTree = false;
    for (const FolderPattern& pattern : folder.patterns) {
        if (pattern.tree.empty()) {
            if (pattern.wildcard ? NameMatchesPattern(pattern.lower, lower) : pattern.lower == lower) return true;
            continue;
        }
        inTree = true;
        const auto tree = trees_.find(pattern.tree);
        if (tree != trees_.end() && tree->second.entries < treeLimit_) return true;
    }
    return !inTree;
}

void LockerState::TreeStatus(const std::wstring& top, ItemStatus& status) const {
    const auto tree = trees_.find(top);
    if (tree == trees_.end()) return;
    // A subfolder not counted yet counts as one.
    for (const auto& turned : tree->second.foldersTurnedAway) {
        status.filesOverLimit += std::max<std::size_t>(turned.second, 1);
    }
    status.linksLeft = tree->second.linksRefused;
    for (const std::wstring& key : tree->second.members) {
        const auto found = folders_.find(key);
        if (found == folders_.end()) continue;
        const Folder& folder = found->second;
        status.filesHeld += folder.held.size();
        status.filesOverLimit += folder.turnedAway.size();
        status.linksLeft += folder.links + folder.linkedElsewhere.size();
        // A subfolder that cannot be opened is noted as its files would be.
        if (key != top && folder.presence != ItemStatus::Folder::Present) ++status.filesDenied;
        for (const auto& entry : folder.waiting) entry.second.CountInto(status);
    }
}

}  // namespace vaultmere
