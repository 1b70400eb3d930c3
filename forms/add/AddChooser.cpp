#include "forms/add/AddChooser.h"

#include <utility>
#include <vector>

#include "forms/add/FolderItem.h"

namespace vaultmere {

AddChooser::AddChooser(FolderSource& source) : Drive1(source), Dir1(source), File1(source), source_(source) {}

void AddChooser::Load(const std::wstring& startFolder) {
    Drive1.Refresh();
    Drive1.SetDrive(startFolder);
    if (SetDir1Path(startFolder) == PathChange::Failed && Drive1.ListIndex() >= 0) SetDir1Path(Drive1.Drive());
}

PathChange AddChooser::SetDir1Path(const std::wstring& path) {
    const PathChange change = Dir1.SetPath(path);
    if (change == PathChange::Changed) Dir1_Change();
    return change;
}

void AddChooser::Drive1_Change() {
    // A drive that cannot be read is ignored: the lists stay where they were.
    SetDir1Path(Drive1.Drive());
}

void AddChooser::Dir1_Change() {
    // The folder list has just read this folder, files and all: reading it
    // a second time would double the wait on a large folder.
    std::vector<std::wstring> files;
    if (File1.MatchesEveryName() && Dir1.TakeFiles(files)) {
        File1.SetFiles(Dir1.Path(), std::move(files));
        return;
    }
    // Should the file list fail to read it (the folder vanished in
    // between), it shows no files rather than those of the folder before.
    if (!File1.SetPath(Dir1.Path())) File1.SetEmpty(Dir1.Path());
}

void AddChooser::Dir1_Click() {
    const int index = Dir1.ListIndex();
    if (!Dir1.IsValidIndex(index)) return;
    SetDir1Path(Dir1.List(index));
}

LockFolderPlan AddChooser::PlanLockFolder(const std::wstring& programFolder) {
    LockFolderPlan plan;
    const std::wstring folder = Dir1.Path();
    if (folder.empty()) return plan;

    const std::wstring ownFolder = NormalizeFolderPath(programFolder);
    if (HoldsProgramFile(File1.Entries()) || (!ownFolder.empty() && source_.IsSameFolder(folder, ownFolder))) {
        plan.action = LockFolderPlan::Action::Refuse;
        return plan;
    }
    plan.action = LockFolderPlan::Action::Add;
    plan.item = FolderItem(folder);
    plan.confirmation = LockConfirmation(plan.item);
    return plan;
}

}  // namespace vaultmere
