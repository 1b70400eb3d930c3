#include "forms/config/ItemLists.h"

#include <algorithm>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

void ItemList::AddItem(std::wstring entry) { entries_.push_back(std::move(entry)); }

void ItemList::RemoveItem(int index) {
    if (index < 0 || index >= ListCount()) return;
    entries_.erase(entries_.begin() + index);
    // A list that lost an entry has no selection.
    selected_ = -1;
}

void ItemList::Clear() {
    entries_.clear();
    selected_ = -1;
}

int ItemList::IndexOf(const std::wstring& text) const {
    const auto it = std::find(entries_.begin(), entries_.end(), text);
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

int ItemList::IndexOfIgnoringCase(const std::wstring& text) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&text](const std::wstring& entry) { return EqualsIgnoringCase(entry, text); });
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

void ItemList::SetListIndex(int index) { selected_ = (index >= 0 && index < ListCount()) ? index : -1; }

std::wstring ItemList::SelectedText() const { return selected_ >= 0 ? entries_[static_cast<size_t>(selected_)] : L""; }

void ItemList::Replace(std::vector<std::wstring> entries) {
    const std::wstring selected = SelectedText();
    entries_ = std::move(entries);
    selected_ = selected_ >= 0 ? IndexOf(selected) : -1;
}

std::wstring StatusNote(const ItemStatus& status) {
    if (!status.locked) return std::wstring();
    switch (status.refusal) {
    case ItemStatus::Refusal::NotAPath:
    case ItemStatus::Refusal::SystemFolder:
        return L"cannot be locked";
    case ItemStatus::Refusal::FolderWithoutPattern:
        return L"folder given without \\*.*";
    case ItemStatus::Refusal::None:
        break;
    }
    switch (status.folder) {
    case ItemStatus::Folder::Missing:
        return L"folder missing";
    case ItemStatus::Folder::Unreachable:
        return L"not reachable";
    case ItemStatus::Folder::Denied:
        return L"no access";
    case ItemStatus::Folder::InUse:
        return L"folder in use";
    case ItemStatus::Folder::OutOfHandles:
        return L"out of handles";
    case ItemStatus::Folder::Present:
        break;
    }
    // Several reasons at once are all named.
    std::wstring note;
    auto add = [&note](const std::wstring& reason) { note += (note.empty() ? L"" : L", ") + reason; };
    if (status.filesWaiting > 0) {
        add(std::to_wstring(status.filesWaiting) + (status.filesWaiting == 1 ? L" file in use" : L" files in use"));
    }
    if (status.filesDenied > 0) add(L"no access");
    if (status.filesFailed > 0) add(L"cannot be locked");
    if (status.filesOverLimit > 0) add(std::to_wstring(status.filesOverLimit) + L" over the file limit");
    if (status.linksLeft > 0) {
        add(std::to_wstring(status.linksLeft) + (status.linksLeft == 1 ? L" link left alone" : L" links left alone"));
    }
    return note;
}

std::wstring EntryNote(const std::wstring& entry, const ItemStatus& status) {
    std::wstring note = MakeItemKey(entry).tree ? L"with subfolders" : L"";
    auto add = [&note](const std::wstring& part) {
        if (!part.empty()) note += (note.empty() ? L"" : L", ") + part;
    };
    if (status.setByPolicy) add(L"set by your administrator");
    add(StatusNote(status));
    return note;
}

void ItemLists::AddLockedItem(const std::wstring& path) {
    lockedList.AddItem(path);
    storedList.AddItem(path);
    locker.SetItemLocked(path, true);
}

BookResult ItemLists::LockNewItem(const std::wstring& path, const std::function<void()>& listed) {
    // A second entry would be a second lock count: unlocking one entry would
    // then leave its files locked under the unlocked list.
    if (lockedList.IndexOfIgnoringCase(path) >= 0) return BookResult();
    const int unlocked = unlockedList.IndexOfIgnoringCase(path);
    if (unlocked >= 0) {
        const std::wstring entry = unlockedList.List(unlocked);
        lockedList.AddItem(entry);
        unlockedList.RemoveItem(unlocked);
        schedule_.Relocked(entry);
        if (listed) listed();
        locker.SetItemLocked(LowerCase(entry), true);
        return BookResult{true, std::wstring()};
    }
    lockedList.AddItem(path);
    storedList.AddItem(path);
    if (listed) listed();
    locker.SetItemLocked(path, true);
    return BookResult{true, std::wstring()};
}

BookResult ItemLists::UnlockSelected() {
    const int index = lockedList.ListIndex();
    const std::wstring entry = lockedList.SelectedText();
    if (entry.empty()) return BookResult();
    locker.SetItemLocked(LowerCase(entry), false);
    unlockedList.AddItem(entry);
    lockedList.RemoveItem(index);
    schedule_.Unlocked(entry, clock());
    return BookResult{true, std::wstring()};
}

BookResult ItemLists::RelockSelected() {
    if (unlockedList.SelectedText().empty()) return BookResult();
    RelockEntry(unlockedList.ListIndex());
    return BookResult{true, std::wstring()};
}

void ItemLists::RelockEntry(int index) {
    const std::wstring entry = unlockedList.List(index);
    locker.SetItemLocked(LowerCase(entry), true);
    lockedList.AddItem(entry);
    unlockedList.RemoveItem(index);
    schedule_.Relocked(entry);
}

std::vector<std::uint64_t> ItemLists::UnlockedRelockTimes() const {
    std::vector<std::uint64_t> times;
    if (unlockedList.ListCount() == 0) return times;
    const std::uint32_t minutes = relockSettings().minutes;
    for (const std::wstring& entry : unlockedList.Entries()) times.push_back(schedule_.DueAt(entry, minutes));
    return times;
}

bool ItemLists::LeaveSession() {
    if (!relockSettings().onSessionLock) return false;
    while (unlockedList.ListCount() > 0) RelockEntry(0);
    return true;
}

bool ItemLists::RelockDue() {
    if (unlockedList.ListCount() == 0) return false;
    const std::vector<std::wstring> due = schedule_.Due(clock(), relockSettings().minutes);
    bool changed = false;
    for (const std::wstring& entry : due) {
        const int index = unlockedList.IndexOf(entry);
        if (index >= 0) RelockEntry(index);
        schedule_.Relocked(entry);
        changed = changed || index >= 0;
    }
    return changed;
}

BookResult ItemLists::RemoveSelected(const RemoveConfirmation& confirm) {
    const int index = lockedList.ListIndex();
    const std::wstring entry = lockedList.SelectedText();
    if (entry.empty()) return BookResult();
    if (!confirm || !confirm(entry)) return BookResult();
    locker.SetItemLocked(entry, false);
    storedList.RemoveItem(storedList.IndexOf(entry));
    lockedList.RemoveItem(index);
    return BookResult{true, std::wstring()};
}

}  // namespace vaultmere
