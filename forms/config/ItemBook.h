#pragma once
// The list of locked items and its locks as the windows see them. Whoever
// keeps them (the guard service, or this process where there is no guard)
// is reached the same way, and the windows never ask which. The windows
// show lockedList and unlockedList, with their selections, and forward the
// commands here. No Windows headers.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "locker/Item.h"
#include "locker/ItemLocker.h"

namespace vaultmere {

// An ordered list of items with at most one selected entry.
class ItemList {
public:
    // Takes entries in place of the current ones; the selected item stays
    // selected where it is still listed, however it is written now.
    void Replace(std::vector<Item> entries);

    int ListCount() const { return static_cast<int>(entries_.size()); }
    const std::vector<Item>& Entries() const { return entries_; }
    // The entries' texts, as shown.
    std::vector<std::wstring> Texts() const { return TextsOf(entries_); }
    // Index of the entry that is item, or -1.
    int IndexOf(const Item& item) const;

    // -1 when nothing is selected. Setting an index out of range clears it.
    int ListIndex() const { return selected_; }
    void SetListIndex(int index);
    // The selected entry's text, or "" when nothing is selected.
    std::wstring SelectedText() const;

private:
    std::vector<Item> entries_;
    int selected_ = -1;
};

// The short note drawn beside a locked entry that is not wholly locked:
// "2 files in use", "no access", "folder missing", "not reachable", "folder
// given without \*.*", "cannot be locked", "3 over the file limit"; ""
// otherwise.
std::wstring StatusNote(const ItemStatus& status);

// The note drawn beside an entry of either list: "with subfolders" for a
// folder locked with everything beneath it, "set by your administrator" for
// an item of the guard's policy, then the status note.
std::wstring EntryNote(const Item& entry, const ItemStatus& status);

// Answers the Remove confirmation for an entry: true for Yes.
using RemoveConfirmation = std::function<bool(const std::wstring& entry)>;

// What a command did: whether the lists changed, and what the user must be
// told ("" for nothing: a refusal or a failure says why).
struct BookResult {
    bool changed = false;
    std::wstring message;
    bool itemRefused = false;  // the item itself may not be locked, as message says
};

struct PasswordCheck {
    bool accepted = false;
    std::wstring message;  // why the password could not be checked; "" when it was
    // A wrong password: how long the keeper holds back the next answer.
    std::uint64_t waitMs = 0;
};

class ItemBook {
public:
    virtual ~ItemBook() = default;
    ItemBook() = default;
    ItemBook(const ItemBook&) = delete;
    ItemBook& operator=(const ItemBook&) = delete;

    ItemList lockedList;    // shown as locked
    ItemList unlockedList;  // unlocked during this run

    // The resident copy starts: a keeper in this process reads the stored
    // list and locks it; the guard needs nothing.
    virtual void Begin() = 0;
    // Reads the lists again; true when the entries changed.
    virtual bool Reload() = 0;
    // How each entry of lockedList stands, in order.
    virtual std::vector<ItemStatus> LockedStatus() const = 0;

    // Lock Folder: an item already on the locked list (the same item as the
    // locker takes it) changes nothing; one on the unlocked list is relocked
    // as Relock Item does; any other is added and locked. listed runs once
    // the lists changed.
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
    // Once a second: true when items whose time was up were locked again
    // and the lists changed.
    virtual bool RelockDue() = 0;

    // The password prompt's check, and Set Password (changed: the password
    // was taken, even where the message says it could not be saved).
    virtual PasswordCheck CheckPassword(const std::wstring& entry) = 0;
    virtual BookResult SetPassword(const std::wstring& password) = 0;
    // What the password prompt says about reaching the keeper or checking
    // the password ("" when all is well), and a tick once a second while
    // the program runs.
    virtual std::wstring Notice() const = 0;
    virtual void Tick() = 0;
    // The configuration window was closed, so the password is asked for
    // again before the next command. Close is its Close button's: what the
    // keeper keeps back for it is saved, and the message says what failed.
    virtual void Forget() = 0;
    virtual BookResult Close() = 0;
};

}  // namespace vaultmere
