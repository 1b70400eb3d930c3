#pragma once
// The configuration window's working set when this process holds the locks:
// the locked, unlocked and persisted lists and the commands on them. No
// Windows headers. It outlives the window, so the lists and the locks
// survive the window being closed and built again.
#include <functional>
#include <string>
#include <vector>

#include "common/RelockSchedule.h"
#include "forms/config/ItemBook.h"

namespace vaultmere {

// The short note drawn beside a locked entry that is not wholly locked:
// "2 files in use", "no access", "folder missing", "not reachable", "folder
// given without \*.*", "cannot be locked", "3 over the file limit"; ""
// otherwise.
std::wstring StatusNote(const ItemStatus& status);

// The note drawn beside an entry of either list: "with subfolders" for a
// folder locked with everything beneath it, "set by your administrator" for
// an item of the guard's policy, then the status note.
std::wstring EntryNote(const std::wstring& entry, const ItemStatus& status);

// The list and its locks held in this process: the locker locks, and Close
// saves the persisted list.
class ItemLists final : public ItemBook {
public:
    explicit ItemLists(ItemLocker& itemLocker) : locker(itemLocker) {}

    ItemList storedList;  // persisted: what Close stores
    ItemLocker& locker;
    // When unlocked items lock themselves again, asked afresh each time.
    std::function<RelockSettings()> relockSettings = [] { return RelockSettings(); };
    std::function<std::uint64_t()> clock = &UtcFileTimeNow;

    bool StoresItself() const override { return false; }
    const std::vector<std::wstring>* ListToSave() const override { return &storedList.Entries(); }

    // Appended to the locked and persisted lists, then locked (start-up
    // relock).
    void AddLockedItem(const std::wstring& path) override;
    std::vector<ItemStatus> LockedStatus() const override { return locker.StatusOf(lockedList.Entries()); }

    // An entry moved back from the unlocked list is locked with its path
    // lower-cased, as Relock Item does. changed is false for an item
    // already locked.
    BookResult LockNewItem(const std::wstring& path, const std::function<void()>& listed) override;
    // The lock calls get the path lower-cased; the lists keep the text.
    BookResult UnlockSelected() override;
    BookResult RelockSelected() override;
    // Unlocked as shown; the entry leaves the persisted list too.
    BookResult RemoveSelected(const RemoveConfirmation& confirm) override;

    std::vector<std::uint64_t> UnlockedRelockTimes() const override;
    // Every unlocked entry is relocked: they were all unlocked in this
    // copy's session.
    bool LeaveSession() override;
    bool RelockDue() override;

private:
    // Relock Item on the unlocked list's entry at index.
    void RelockEntry(int index);

    RelockSchedule schedule_;
};

}  // namespace vaultmere
