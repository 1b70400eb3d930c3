#pragma once
// The configuration window's working set: the locked, unlocked and persisted
// lists and the commands on them. No Windows headers; the window only shows
// this state and forwards clicks to it. It outlives the window, so the lists
// and the locks survive the window being closed and built again.
#include <functional>
#include <string>
#include <vector>

#include "locker/ItemLocker.h"

namespace vaultmere {

// An ordered list of item paths with at most one selected entry.
class ItemList {
public:
    void AddItem(std::wstring entry);
    void RemoveItem(int index);
    void Clear();

    int ListCount() const { return static_cast<int>(entries_.size()); }
    const std::wstring& List(int index) const { return entries_.at(static_cast<size_t>(index)); }
    const std::vector<std::wstring>& Entries() const { return entries_; }
    // Index of the first entry equal to text, or -1.
    int IndexOf(const std::wstring& text) const;
    // The same, with case ignored as file names compare.
    int IndexOfIgnoringCase(const std::wstring& text) const;

    // -1 when nothing is selected. Setting an index out of range clears it.
    int ListIndex() const { return selected_; }
    void SetListIndex(int index);
    // The selected entry's text, or "" when nothing is selected.
    std::wstring SelectedText() const;

private:
    std::vector<std::wstring> entries_;
    int selected_ = -1;
};

// The short note drawn beside a locked entry that is not wholly locked:
// "2 files in use", "no access", "folder missing", "not reachable", "folder
// given without \*.*", "cannot be locked"; "" otherwise.
std::wstring StatusNote(const ItemStatus& status);

// Answers the Remove confirmation for an entry: true for Yes.
using RemoveConfirmation = std::function<bool(const std::wstring& entry)>;

class ItemLists {
public:
    explicit ItemLists(ItemLocker& itemLocker) : locker(itemLocker) {}
    ItemLists(const ItemLists&) = delete;
    ItemLists& operator=(const ItemLists&) = delete;

    ItemList lockedList;    // shown as locked
    ItemList unlockedList;  // unlocked during this run
    ItemList storedList;    // persisted: what Close stores
    ItemLocker& locker;

    // An item that is locked and kept: appended to the locked and persisted
    // lists, then locked (start-up relock, Lock Folder).
    void AddLockedItem(const std::wstring& path);

    // Lock Folder: an item already on the locked list (compared without
    // case) changes nothing and is not locked again; one on the unlocked
    // list is relocked as Relock Item does; any other is appended to the
    // locked and persisted lists and locked. listed runs after the lists
    // changed and before the lock call. Returns whether the lists changed.
    bool LockNewItem(const std::wstring& path, const std::function<void()>& listed);

    // Unlock Item: the locked list's selected entry is unlocked (its path
    // lower-cased) and moved to the end of the unlocked list.
    void UnlockSelected();
    // Relock Item: the unlocked list's selected entry is locked (lower-cased)
    // and moved back to the end of the locked list.
    void RelockSelected();
    // Remove Item: after confirmation the locked list's selected entry is
    // unlocked as shown and leaves the locked and persisted lists.
    void RemoveSelected(const RemoveConfirmation& confirm);
};

}  // namespace vaultmere
