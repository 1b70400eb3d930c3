#include "forms/add/ChooserLists.h"

#include <algorithm>
#include <utility>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

std::vector<std::wstring> FolderChain(const std::wstring& folder) {
    std::vector<std::wstring> chain;
    std::wstring root;
    std::wstring rest;
    if (!SplitRoot(folder, root, rest)) return chain;
    chain.push_back(root);
    for (const std::wstring& component : FolderComponents(rest)) chain.push_back(JoinPath(chain.back(), component));
    return chain;
}

void SortNames(std::vector<std::wstring>& names) {
    std::vector<std::pair<std::wstring, std::wstring>> keyed;
    keyed.reserve(names.size());
    for (std::wstring& name : names) {
        std::wstring key = LowerCase(name);
        keyed.emplace_back(std::move(key), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].second);
}

void DriveList::Refresh() {
    const wchar_t selected = listIndex_ >= 0 ? drives_[static_cast<size_t>(listIndex_)].letter : L'\0';
    drives_ = source_->Drives();
    std::sort(drives_.begin(), drives_.end(), [](const DriveEntry& a, const DriveEntry& b) {
        return LowerDriveLetter(a.letter) < LowerDriveLetter(b.letter);
    });
    listIndex_ = -1;
    if (selected != L'\0') SetDrive(std::wstring{selected, L':'});
}

std::wstring DriveList::List(int index) const {
    if (index < 0 || index >= ListCount()) return std::wstring();
    const DriveEntry& drive = drives_[static_cast<size_t>(index)];
    std::wstring text{LowerDriveLetter(drive.letter), L':'};
    if (!drive.label.empty()) text += L" [" + drive.label + L"]";
    return text;
}

void DriveList::SetListIndex(int index) { listIndex_ = (index >= 0 && index < ListCount()) ? index : -1; }

std::wstring DriveList::Drive() const {
    if (listIndex_ < 0) return std::wstring();
    return std::wstring{LowerDriveLetter(drives_[static_cast<size_t>(listIndex_)].letter), L':'};
}

bool DriveList::SetDrive(const std::wstring& path) {
    if (path.size() < 2 || !IsDriveLetter(path[0]) || path[1] != L':') return false;
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (LowerDriveLetter(drives_[i].letter) == LowerDriveLetter(path[0])) {
            listIndex_ = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

PathChange FolderList::SetPath(const std::wstring& path) {
    std::wstring folder;
    if (!source_->ResolveFolder(path, folder)) return PathChange::Failed;
    FolderContents contents;
    if (!source_->ReadFolder(folder, L"*", contents)) return PathChange::Failed;
    SortNames(contents.folders);

    const bool changed = !EqualsIgnoringCase(folder, path_);
    chain_ = FolderChain(folder);
    path_ = std::move(folder);
    subfolders_ = std::move(contents.folders);
    files_ = std::move(contents.files);
    filesTaken_ = false;
    listIndex_ = -1;
    ++generation_;
    return changed ? PathChange::Changed : PathChange::Same;
}

std::wstring FolderList::List(int index) const {
    if (!IsValidIndex(index)) return std::wstring();
    if (index < 0) return chain_[chain_.size() - static_cast<size_t>(-index)];
    return JoinPath(path_, subfolders_[static_cast<size_t>(index)]);
}

std::wstring FolderList::Name(int index) const {
    if (!IsValidIndex(index)) return std::wstring();
    if (index >= 0) return subfolders_[static_cast<size_t>(index)];
    if (index == -PathDepth()) return chain_.front();
    const std::wstring& path = chain_[chain_.size() - static_cast<size_t>(-index)];
    return path.substr(path.find_last_of(L'\\') + 1);
}

bool FolderList::TakeFiles(std::vector<std::wstring>& files) {
    if (filesTaken_) return false;
    files = std::move(files_);
    files_.clear();
    filesTaken_ = true;
    return true;
}

void FolderList::SetListIndex(int index) {
    if (IsValidIndex(index)) listIndex_ = index;
}

bool FileList::SetPath(const std::wstring& path) {
    std::wstring folder;
    if (!source_->ResolveFolder(path, folder)) return false;
    FolderContents contents;
    if (!source_->ReadFolder(folder, pattern_, contents)) return false;
    SortNames(contents.files);
    path_ = std::move(folder);
    files_ = std::move(contents.files);
    ++generation_;
    return true;
}

void FileList::SetFiles(const std::wstring& path, std::vector<std::wstring> files) {
    SortNames(files);
    path_ = path;
    files_ = std::move(files);
    ++generation_;
}

void FileList::SetEmpty(const std::wstring& path) {
    path_ = path;
    files_.clear();
    ++generation_;
}

std::wstring FileList::List(int index) const {
    if (index < 0 || index >= ListCount()) return std::wstring();
    return files_[static_cast<size_t>(index)];
}

}  // namespace vaultmere
