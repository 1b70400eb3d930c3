#include "locker/Admission.h"

#include "common/LockBudget.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

constexpr wchar_t kCannotBeLocked[] = L"This item cannot be locked.";
constexpr wchar_t kCriticalFolder[] = L"Cannot lock this critical folder!";
constexpr wchar_t kNetworkFromWindow[] =
    L"Network folders can only be locked by an administrator through the stored list.";
constexpr wchar_t kFilesNotYours[] = L"You may not read every file in this folder, so it cannot be locked for you.";
constexpr wchar_t kThroughLink[] =
    L"This folder is reached through a link (a junction or a symbolic link), so it cannot be locked. Choose the "
    L"folder the link leads to.";
constexpr wchar_t kTreeNotYours[] =
    L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.";

AdmissionVerdict Refused(std::wstring refusal) { return AdmissionVerdict{std::move(refusal), ApprovedFolder()}; }

}  // namespace

std::wstring FolderAccessRefusal(FolderAccess access) {
    switch (access) {
    case FolderAccess::Granted:
        return std::wstring();
    case FolderAccess::Denied:
        return L"You may not open this folder, so it cannot be locked for you.";
    case FolderAccess::Missing:
        return L"This folder cannot be found, so it cannot be locked.";
    case FolderAccess::Unknown:
        break;
    }
    return L"Whether you may open this folder cannot be checked, so it cannot be locked for you.";
}

AdmissionVerdict Admit(const std::wstring& path, const AdmissionWay& way, AdmissionProbe& probe) {
    const ItemKey item = MakeItemKey(path);
    if (item.target.kind == ItemTarget::Kind::Refused) return Refused(kCannotBeLocked);
    if (!way.sharesAllowed && item.folder.rfind(L"\\\\", 0) == 0) return Refused(kNetworkFromWindow);
    const AdmissionProbe::Opening opening = probe.Open(item.target.folder);
    const bool opened = opening == AdmissionProbe::Opening::Opened;
    // Whoever asks, a system folder is refused before anything else is said of it.
    if (!probe.RuleAllows(item.tree) || (opened && probe.HoldsProgramFile())) return Refused(kCriticalFolder);
    if (opened && !probe.ReachedWithoutLinks()) return Refused(kThroughLink);
    // A folder not there is said to be missing only to someone who may be told.
    const bool known = probe.KnowsAsker();
    const FolderAccess access = opened                                              ? probe.MayList()
                                : known && opening == AdmissionProbe::Opening::Gone ? FolderAccess::Missing
                                                                                    : FolderAccess::Unknown;
    if (access != FolderAccess::Granted) return Refused(FolderAccessRefusal(access));
    AdmissionVerdict verdict;
    verdict.approved = probe.Identity();
    if (verdict.approved.fileId == 0) return Refused(FolderAccessRefusal(FolderAccess::Unknown));
    if (!way.treeLimit) return verdict;
    if (!item.tree) {
        if (!probe.MayReadFiles(item.target.name)) return Refused(kFilesNotYours);
        return verdict;
    }
    const TreeAccess tree = probe.ScanTree(*way.treeLimit);
    if (!tree.mayListAll) return Refused(kTreeNotYours);
    if (!tree.mayReadAll) return Refused(kFilesNotYours);
    if (tree.entries > *way.treeLimit) return Refused(TreeTooLargeText(*way.treeLimit));
    return verdict;
}

}  // namespace vaultmere
