#pragma once
// The disk's side of the admission rule (Admission.h), for one asker.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"
#include "locker/Admission.h"
#include "locker/FolderHandles.h"
#include "locker/LockRule.h"

namespace vaultmere {

// Whether a token's user may have access to what a handle, open with
// READ_CONTROL, stands for. token: an impersonation token (identification
// level is enough); null refuses as Unknown.
FolderAccess AccessOf(HANDLE token, HANDLE object, DWORD access);

// Asks for token's user; null: no one, and nothing but the rule is granted.
class DiskAdmissionProbe final : public AdmissionProbe {
public:
    DiskAdmissionProbe(HANDLE token, const LockRule& rule) : token_(token), rule_(rule) {}

    Opening Open(const std::wstring& folder) override;
    bool RuleAllows(bool withSubfolders) override;
    bool HoldsProgramFile() override;
    bool ReachedWithoutLinks() override;
    bool KnowsAsker() const override { return token_ != nullptr; }
    FolderAccess MayList() override { return AccessOf(token_, folder_.Get(), FILE_LIST_DIRECTORY); }
    ApprovedFolder Identity() override { return ApprovedFolder{identity_.fileId, identity_.volume}; }
    bool MayReadFiles(const std::wstring& name) override;
    TreeAccess ScanTree(std::size_t most) override;

private:
    HANDLE token_;
    const LockRule& rule_;
    std::wstring path_;
    UniqueHandle folder_;
    FolderIdentity identity_;  // as read from folder_, or only its name where it could not be opened
};

// An identification token of this process's user; empty when none can be had.
UniqueHandle OwnUserToken();

// Admit, asked of the disk for this process's own user.
AdmissionVerdict AdmitForOwnUser(const std::wstring& path, const AdmissionWay& way);

}  // namespace vaultmere
