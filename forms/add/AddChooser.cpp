#include "forms/add/AddChooser.h"

#include <utility>
#include <vector>

#include "common/LockBudget.h"
#include "forms/add/DriveReach.h"
#include "forms/add/FolderItem.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCriticalFolder[] = L"Cannot lock this critical folder!";

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

LockFolderPlan AddChooser::PlanLockFolder(const std::wstring& programFolder,
                                          const std::vector<std::wstring>& systemFolders, bool withSubfolders,
                                          std::optional<std::size_t> treeLimit) {
    LockFolderPlan plan;
    const std::wstring folder = folderList.Path();
    if (folder.empty()) return plan;

    const FolderReach reach = ReachableFolder(folder, [this](wchar_t letter) { return source_.DriveFactsOf(letter); });
    std::vector<std::wstring> critical = systemFolders;
    critical.push_back(programFolder);
    const bool refused = HoldsProgramFile(fileList.Entries()) || !source_.MayLock(folder, withSubfolders, critical) ||
                         (!reach.folder.empty() && reach.folder != folder &&
                          !source_.MayLock(reach.folder, withSubfolders, critical));
    if (refused || reach.folder.empty()) {
        plan.action = LockFolderPlan::Action::Refuse;
        plan.refusal = refused ? kCriticalFolder : reach.refusal;
        return plan;
    }
    // Refused whole before anything of it is locked.
    if (withSubfolders && treeLimit && source_.TreeEntries(reach.folder, *treeLimit) > *treeLimit) {
        plan.action = LockFolderPlan::Action::Refuse;
        plan.refusal = TreeTooLargeText(*treeLimit);
        return plan;
    }
    plan.action = LockFolderPlan::Action::Add;
    plan.item = FolderItem(reach.folder, withSubfolders);
    plan.confirmation = LockConfirmation(plan.item, withSubfolders);
    return plan;
}

}  // namespace vaultmere
