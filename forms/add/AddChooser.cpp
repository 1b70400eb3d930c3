#include "forms/add/AddChooser.h"

#include <utility>
#include <vector>

#include "common/TextCase.h"
#include "forms/add/DriveReach.h"
#include "forms/add/FolderItem.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

constexpr wchar_t kFileNotFolder[] = L"This is a file, not a folder!";
constexpr wchar_t kUnreadableFolder[] = L"Cannot read this folder!";
constexpr wchar_t kPathTooLong[] = L"This path is too long!";

std::wstring Trimmed(const std::wstring& text) {
    const wchar_t blanks[] = L" \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A path as copied from an address bar or a command line: "C:\Data".
std::wstring TypedPath(const std::wstring& typed) {
    std::wstring path = Trimmed(typed);
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = Trimmed(path.substr(1, path.size() - 2));
    return path;
}

// Neither "c:..." nor "\\...": a name or names below the folder shown.
bool IsBelowShownFolder(const std::wstring& path) {
    const bool drive = path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':';
    return !drive && path[0] != L'\\' && path[0] != L'/';
}

}  // namespace

AddChooser::AddChooser(FolderSource& source)
    : driveList(source), folderList(source), fileList(source), source_(source) {}

void AddChooser::Load(const std::wstring& startFolder) {
    driveList.Refresh();
    driveList.SetDrive(startFolder);
    if (SetFolderPath(startFolder) == PathChange::Failed && driveList.ListIndex() >= 0)
        SetFolderPath(driveList.Drive());
}

PathChange AddChooser::SetFolderPath(const std::wstring& path) {
    const PathChange change = folderList.SetPath(path);
    // The folder list has just read the folder, files and all: reading it
    // a second time for the file list would double the wait on a large one.
    std::vector<std::wstring> files;
    const bool justRead = folderList.TakeFiles(files);
    // The same folder read again brings the file list up to date as well.
    if (change == PathChange::Failed) return change;
    if (justRead && fileList.MatchesEveryName()) {
        fileList.SetFiles(folderList.Path(), std::move(files));
    } else {
        OnFolderChange();
    }
    return change;
}

void AddChooser::OnDriveChange() {
    // A drive that cannot be read is ignored: the lists stay where they were.
    SetFolderPath(driveList.Drive());
}

void AddChooser::OnFolderChange() {
    // Should the file list fail to read the folder (it vanished since the
    // folder list read it), it shows no files rather than those of the
    // folder before.
    if (!fileList.SetPath(folderList.Path())) fileList.SetEmpty(folderList.Path());
}

void AddChooser::OnFolderClick() {
    const int index = folderList.ListIndex();
    if (!folderList.IsValidIndex(index)) return;
    SetFolderPath(folderList.List(index));
}

TypedFolderOutcome AddChooser::OpenTypedFolder(const std::wstring& typed) {
    TypedFolderOutcome outcome;
    std::wstring path = TypedPath(typed);
    if (path.empty()) return outcome;
    outcome.result = TypedFolderOutcome::Result::Refused;
    if (path.size() > kMaxItemPathLength) {
        outcome.message = kPathTooLong;
        return outcome;
    }
    outcome.message = kFolderNotFound;
    // Wildcards would list whatever they match instead of one folder.
    if (path.find_first_of(L"*?\"<>|") != std::wstring::npos) return outcome;
    if (IsBelowShownFolder(path)) {
        if (folderList.Path().empty()) return outcome;
        path = JoinPath(folderList.Path(), path);
    }
    if (SetFolderPath(path) != PathChange::Failed) {
        if (!driveList.SetDrive(folderList.Path())) driveList.SetListIndex(-1);
        outcome.result = TypedFolderOutcome::Result::Opened;
        outcome.message.clear();
        return outcome;
    }
    // Why it could not be read, as the folder above it tells.
    std::wstring folder;
    if (!source_.ResolveFolder(path, folder)) return outcome;
    const std::vector<std::wstring> chain = FolderChain(folder);
    if (chain.size() < 2) return outcome;
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    FolderContents above;
    if (!source_.ReadFolder(chain[chain.size() - 2], name, above)) return outcome;
    const auto named = [&name](const std::vector<std::wstring>& names) {
        for (const std::wstring& entry : names) {
            if (EqualsIgnoringCase(entry, name)) return true;
        }
        return false;
    };
    if (named(above.files)) outcome.message = kFileNotFolder;
    if (named(above.folders)) outcome.message = kUnreadableFolder;
    return outcome;
}

LockFolderPlan AddChooser::PlanLockFolder(bool withSubfolders) {
    LockFolderPlan plan;
    const std::wstring folder = folderList.Path();
    if (folder.empty()) return plan;
    const FolderReach reach = ReachableFolder(folder, [this](wchar_t letter) { return source_.DriveFactsOf(letter); });
    if (reach.folder.empty()) {
        plan.action = LockFolderPlan::Action::Refuse;
        plan.refusal = reach.refusal;
        return plan;
    }
    plan.action = LockFolderPlan::Action::Add;
    plan.item = FolderItem(reach.folder, withSubfolders);
    plan.confirmation = LockConfirmation(plan.item, withSubfolders);
    return plan;
}

}  // namespace vaultmere
