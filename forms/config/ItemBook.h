#pragma once
// The list of locked items and its locks as the windows see them, whoever
// holds them: this process (ItemLists) or the guard service (GuardBook).
// The windows show lockedList and unlockedList, with their selections, and
// forward the commands here. No Windows headers.
#include <cstdint>
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
    // Takes entries in place of the current ones; the selected entry stays
    // selected where it is still listed.
    void Replace(std::vector<std::wstring> entries);

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

// Answers the Remove confirmation for an entry: true for Yes.
using RemoveConfirmation = std::function<bool(const std::wstring& entry)>;

// What a command did: whether the lists changed, and what the user must be
// told ("" for nothing: a refusal or a failure says why).
struct BookResult {
    bool changed = false;
    std::wstring message;
};

struct PasswordCheck {
    bool accepted = false;
    std::wstring message;  // why the password could not be checked; "" when it was
};

class ItemBook {
public:
    virtual ~ItemBook() = default;
    ItemBook() = default;
    ItemBook(const ItemBook&) = delete;
    ItemBook& operator=(const ItemBook&) = delete;

    ItemList lockedList;    // shown as locked
    ItemList unlockedList;  // unlocked during this run

    // Whether the list and the password are read, saved and checked by
    // whoever holds the locks; else the windows do that with the registry.
    virtual bool StoresItself() const = 0;
    // The list Close saves, or nullptr when each change is saved as it is made.
    virtual const std::vector<std::wstring>* ListToSave() const = 0;

    // An item read from the stored list at start-up: listed and locked.
    virtual void AddLockedItem(const std::wstring& path) = 0;
    // Reads the lists again where someone else may change them; true when
    // the entries changed.
    virtual bool Reload() { return false; }
    // How each entry of lockedList stands, in order.
    virtual std::vector<ItemStatus> LockedStatus() const = 0;

    // Lock Folder: an item already on the locked list (compared without
    // case) changes nothing; one on the unlocked list is relocked as Relock
    // Item does; any other is added and locked. listed runs once the lists
    // changed, before the files are locked.
    virtual BookResult LockNewItem(const std::wstring& path, const std::function<void()>& listed) = 0;
    // Unlock Item: the locked list's selected entry is unlocked and moved to
    // the end of the unlocked list.
    virtual BookResult UnlockSelected() = 0;
    // Relock Item: the unlocked list's selected entry is locked and moved
    // back to the end of the locked list.
    virtual BookResult RelockSelected() = 0;
    // Remove Item: after confirmation the locked list's selected entry is
    // unlocked and leaves the list of locked items for good.
    virtual BookResult RemoveSelected(const RemoveConfirmation& confirm) = 0;

    // When each entry of unlockedList locks itself again, in order: a UTC
    // file time, 0 for never.
    virtual std::vector<std::uint64_t> UnlockedRelockTimes() const = 0;
    // The session was locked (or left to another user): where that is to
    // relock them, the items unlocked in it are locked again (where the
    // guard holds them, it does so itself). Returns whether it is on, so
    // that the windows close too.
    virtual bool LeaveSession() = 0;
    // Once a second: the items whose time is up are locked again; true
    // when the lists changed.
    virtual bool RelockDue() { return false; }

    // Only where StoresItself: the password prompt's check and Set Password.
    virtual PasswordCheck CheckPassword(const std::wstring&) { return PasswordCheck(); }
    virtual BookResult SetPassword(const std::wstring&) { return BookResult(); }
    // Only where StoresItself: what the password prompt says about the
    // connection ("" when all is well), and a tick once a second while the
    // program runs (a connection that is down is tried again).
    virtual std::wstring Notice() const { return std::wstring(); }
    virtual void Tick() {}
    // Only where StoresItself: the configuration window was closed, so the
    // password is asked for again before the next command.
    virtual void Forget() {}
};

}  // namespace vaultmere
