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
    // The folder list has just read the folder, files and all: reading it
    // a second time for the file list would double the wait on a large one.
    std::vector<std::wstring> files;
    const bool justRead = Dir1.TakeFiles(files);
    // The same folder read again brings the file list up to date as well.
    if (change == PathChange::Failed) return change;
    if (justRead && File1.MatchesEveryName()) {
        File1.SetFiles(Dir1.Path(), std::move(files));
    } else {
        Dir1_Change();
    }
    return change;
}

void AddChooser::Drive1_Change() {
    // A drive that cannot be read is ignored: the lists stay where they were.
    SetDir1Path(Drive1.Drive());
}

void AddChooser::Dir1_Change() {
    // Should the file list fail to read the folder (it vanished since the
    // folder list read it), it shows no files rather than those of the
    // folder before.
    if (!File1.SetPath(Dir1.Path())) File1.SetEmpty(Dir1.Path());
}

void AddChooser::Dir1_Click() {
    const int index = Dir1.ListIndex();
    if (!Dir1.IsValidIndex(index)) return;
    SetDir1Path(Dir1.List(index));
}

LockFolderPlan AddChooser::PlanLockFolder(const std::wstring& programFolder,
                                          const std::vector<std::wstring>& systemFolders) {
    LockFolderPlan plan;
    const std::wstring folder = Dir1.Path();
    if (folder.empty()) return plan;

    bool refused = HoldsProgramFile(File1.Entries());
    std::vector<std::wstring> critical = systemFolders;
    critical.push_back(programFolder);
    for (const std::wstring& each : critical) {
        if (refused) break;
        const std::wstring normalized = NormalizeFolderPath(each);
        refused = !normalized.empty() && source_.IsSameFolder(folder, normalized);
    }
    if (refused) {
        plan.action = LockFolderPlan::Action::Refuse;
        return plan;
    }
    plan.action = LockFolderPlan::Action::Add;
    plan.item = FolderItem(folder);
    plan.confirmation = LockConfirmation(plan.item);
    return plan;
}

}  // namespace vaultmere
