#pragma once
// The add dialog's working set: its drive, folder and file lists kept in
// step, and what Lock Folder decides. The dialog window shows this state and
// forwards its events here. No Windows headers.
#include <string>
#include <vector>

#include "forms/add/ChooserLists.h"

namespace vaultmere {

// What Lock Folder is to do with the folder the folder list shows.
struct LockFolderPlan {
    enum class Action {
        None,    // no folder: nothing is shown and nothing changes
        Refuse,  // a drive letter that cannot be named outside this sign-in
        Add,     // ask for item to be added and locked; show confirmation
    };
    Action action = Action::None;
    std::wstring item;
    std::wstring confirmation;
    std::wstring refusal;  // what the user is told, for Refuse
};

// What the user is told of a folder path that leads to no folder.
constexpr wchar_t kFolderNotFound[] = L"Cannot find this folder!";

// What became of a folder path typed or pasted into the chooser.
struct TypedFolderOutcome {
    enum class Result {
        Nothing,  // no text: nothing is shown and nothing changes
        Opened,   // the lists show that folder, as if browsed to it
        Refused,  // the lists stay where they were; message says why
    };
    Result result = Result::Nothing;
    std::wstring message;
};

class AddChooser {
public:
    explicit AddChooser(FolderSource& source);
    AddChooser(const AddChooser&) = delete;
    AddChooser& operator=(const AddChooser&) = delete;

    DriveList driveList;
    FolderList folderList;
    FileList fileList;

    // The state a fresh dialog starts from: every list on startFolder, or
    // on its drive when startFolder cannot be read.
    void Load(const std::wstring& startFolder);

    // Another drive was chosen in the drive box: the folder list goes to that
    // drive's current folder. A drive that is not ready leaves the folder
    // and file lists as they were.
    void OnDriveChange();
    // The folder list's path changed: the file list follows it.
    void OnFolderChange();
    // An entry of the folder list was clicked (its ListIndex is on it):
    // that folder opens, or, for the current folder, is read again. One that
    // cannot be read leaves the lists as they were.
    void OnFolderClick();
    // Goes to a folder path the user typed or pasted: blanks around it and
    // one pair of quotes are dropped; a path without a drive or share is
    // taken inside the folder the list shows. The drive list follows.
    TypedFolderOutcome OpenTypedFolder(const std::wstring& typed);

    // The item Lock Folder asks for: the folder the folder list shows, one
    // on a subst drive as the folder it stands for. A drive letter of this
    // sign-in that stands for a network folder, or for one that cannot be
    // reached, names nothing whoever locks would find: refused. Whether the
    // folder may be locked is the keeper's answer (locker/Admission.h).
    LockFolderPlan PlanLockFolder(bool withSubfolders = false);

private:
    PathChange SetFolderPath(const std::wstring& path);

    FolderSource& source_;
};

}  // namespace vaultmere
