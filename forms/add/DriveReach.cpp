#include "forms/add/DriveReach.h"

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

constexpr wchar_t kNetworkDrive[] = L"Cannot lock a folder on a network drive: it is connected for your sign-in only.";
constexpr wchar_t kLostSubst[] =
    L"Cannot lock this folder: its drive letter stands for a folder that cannot be reached.";
// subst letters may stand for folders on other subst letters; a loop ends here.
constexpr int kMaxSubstHops = 8;

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

FolderReach ReachableFolder(const std::wstring& folder, const std::function<DriveFacts(wchar_t)>& factsOf) {
    FolderReach reach{folder, std::wstring()};
    for (int hops = 0;; ++hops) {
        const std::wstring& path = reach.folder;
        if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return reach;
        const DriveFacts facts = factsOf ? factsOf(LowerDriveLetter(path[0])) : DriveFacts();
        if (facts.kind == DriveKind::Remote) return FolderReach{std::wstring(), kNetworkDrive};
        if (!StartsWithIgnoringCase(facts.device, L"\\??\\")) return reach;
        if (hops == kMaxSubstHops) return FolderReach{std::wstring(), kLostSubst};

        std::wstring target = facts.device.substr(4);
        if (StartsWithIgnoringCase(target, L"UNC\\")) target = L"\\\\" + target.substr(4);
        const std::wstring rest = path.substr(3);
        const std::wstring next = NormalizeFolderPath(rest.empty() ? target : JoinPath(target, rest));
        if (next.empty()) return FolderReach{std::wstring(), kLostSubst};
        reach.folder = next;
    }
}

}  // namespace vaultmere
