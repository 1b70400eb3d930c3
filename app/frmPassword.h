#pragma once
// The start-up form: decides whether this process is the resident copy or a
// second start, relocks the stored list, and is the access password prompt.
// It stays a hidden top-level window for the life of the process.
#include <windows.h>

#include "app/AppState.h"
#include "forms/FormKit.h"
#include "forms/config/ItemLists.h"

namespace vaultmere {

class frmPassword final : public ui::Form {
public:
    enum class Role { Resident, SecondStart };

    frmPassword(AppState& state, ItemLists& lists) : state_(state), lists_(lists) {}

    // Start-up: the application folder, the stored password, the role by the
    // resident marker title; as the resident copy it takes that title and
    // relocks every stored item in order. The window stays hidden.
    Role Form_Load();

    enum ControlId {
        IDC_IMAGE1 = 100,
        IDC_LABEL1,
        IDC_TXTPASSWORD,
        IDC_CHECK1,
        IDC_COMMAND1,
        IDC_CMDOK,
    };

protected:
    void Load() override;

private:
    void RelockStoredItems();

    AppState& state_;
    ItemLists& lists_;
};

// The folder of this program's executable, as the platform reports it:
// no trailing backslash except for a drive root.
std::wstring ProgramFolder();
std::wstring ProgramPath();

}  // namespace vaultmere
