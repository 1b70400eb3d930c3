#include "forms/config/ItemBook.h"

#include <algorithm>

#include "locker/ItemPath.h"

namespace vaultmere {

int ItemList::IndexOf(const Item& item) const {
    const auto it = std::find(entries_.begin(), entries_.end(), item);
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

void ItemList::SetListIndex(int index) { selected_ = (index >= 0 && index < ListCount()) ? index : -1; }

std::wstring ItemList::SelectedText() const {
    return selected_ >= 0 ? entries_[static_cast<size_t>(selected_)].Text() : L"";
}

void ItemList::Replace(std::vector<Item> entries) {
    const Item selected(SelectedText());
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
    case ItemStatus::Refusal::Redirected:
        return L"reached through a link: not locked";
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

std::wstring EntryNote(const Item& entry, const ItemStatus& status) {
    std::wstring note = entry.Parsed().tree ? L"with subfolders" : L"";
    auto add = [&note](const std::wstring& part) {
        if (!part.empty()) note += (note.empty() ? L"" : L", ") + part;
    };
    if (status.setByPolicy) add(L"set by your administrator");
    add(StatusNote(status));
    return note;
}

}  // namespace vaultmere
