#pragma once
// LockerState as an ItemLocker with no disk behind it, for tests and
// fuzzing: each call changes the state at once, as FileLocker does under
// its mutex, and Work does the lanes' jobs with what a finder makes up in
// place of listing and opening.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "locker/LockerState.h"

namespace vaultmere {

class StateLocker final : public ItemLocker {
public:
    // Fills in a job's findings as a lane would; by default the folder is
    // found empty and watched.
    using Finder = std::function<void(FolderJob& job)>;
    explicit StateLocker(const LockBudget& budget, Finder finder = nullptr);

    void SetItemLocked(const Item& item, bool locked) override;
    void LockApproved(const Item& item, const ApprovedFolder& approved) override;
    void SetItemsKnown(std::size_t items) override { state_.SetItemsKnown(items); }
    std::vector<ItemStatus> StatusOf(const std::vector<Item>& items) const override;

    // The clock goes on by ms; then the lanes with work do their jobs, at
    // most rounds times each.
    void Work(std::uint64_t ms, int rounds = 4);
    const LockerState& State() const { return state_; }
    // The files the state let go since the last call, for the caller to close.
    std::vector<FileToken> TakeReleased();

private:
    LockerState state_;
    Finder finder_;
    std::set<std::wstring> roots_;  // the lanes running
    std::vector<FileToken> released_;
    std::uint64_t now_ = 0;
};

}  // namespace vaultmere
