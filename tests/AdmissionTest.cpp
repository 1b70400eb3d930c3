#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/LockBudget.h"
#include "locker/Admission.h"

namespace vaultmere {
namespace {

// The disk as a test tells it; asked notes what the rule asked of it.
struct ToldProbe : AdmissionProbe {
    Opening opening = Opening::Opened;
    bool ruleAllows = true, holdsProgram = false, withoutLinks = true, asker = true, readFiles = true;
    FolderAccess list = FolderAccess::Granted;
    ApprovedFolder identity{42, 7};
    TreeAccess tree;
    std::wstring asked;
    Opening Open(const std::wstring& folder) override { return asked += folder, opening; }
    bool RuleAllows(bool tree) override { return asked += tree ? L" tree" : L" plain", ruleAllows; }
    bool HoldsProgramFile() override { return holdsProgram; }
    bool ReachedWithoutLinks() override { return withoutLinks; }
    bool KnowsAsker() const override { return asker; }
    FolderAccess MayList() override { return list; }
    ApprovedFolder Identity() override { return identity; }
    bool MayReadFiles(const std::wstring& name) override { return asked += L" read " + name, readFiles; }
    TreeAccess ScanTree(std::size_t most) override { return asked += L" scan " + std::to_wstring(most), tree; }
};

using Tell = std::function<void(ToldProbe&)>;

// The refusal of a path on a disk told so; for an accepted one, what was asked.
std::wstring Told(const Tell& tell, const std::wstring& path = L"c:\\data\\*.*", AdmissionWay way = {false, 10}) {
    ToldProbe probe;
    if (tell) tell(probe);
    const AdmissionVerdict verdict = Admit(path, way, probe);
    if (!verdict.refusal.empty()) return verdict.refusal;
    return probe.asked + (verdict.approved.fileId == 42 && verdict.approved.volume == 7 ? L": approved" : L"");
}

TEST(Admission, EachOutcomeWithItsTextInTheOrderTheChecksAreMade) {
    const std::wstring unknown = L"Whether you may open this folder cannot be checked, so it cannot be locked for you.";
    const std::wstring notYours = L"You may not read every file in this folder, so it cannot be locked for you.";
    const std::wstring tree = L"c:\\data\\**\\*.*";
    using Opening = AdmissionProbe::Opening;
    const auto scanned = [](TreeAccess found) { return Tell([found](ToldProbe& p) { p.tree = found; }); };
    EXPECT_EQ(L"C:\\Data plain read *.txt: approved", Told(nullptr, L"C:\\Data\\.\\*.txt"));
    EXPECT_EQ(L"c:\\data tree scan 10: approved", Told(scanned({10, true, true}), tree));
    // Shares only for one that locks as the asker; an early answer reads nothing inside.
    EXPECT_EQ(L"\\\\s\\share plain read *.*: approved", Told(nullptr, L"\\\\s\\share\\*.*", {true, 10}));
    EXPECT_EQ(L"c:\\data plain: approved", Told(nullptr, L"c:\\data\\*.*", {}));
    EXPECT_EQ(L"This item cannot be locked.", Told(nullptr, L"data\\*.*"));
    EXPECT_EQ(L"Network folders can only be locked by an administrator through the stored list.",
              Told(nullptr, L"\\\\s\\share\\*.*"));
    // Judged by its name where it cannot be opened, whoever asks.
    for (const Tell& tell : {Tell([](ToldProbe& p) { p.ruleAllows = false, p.opening = Opening::Failed; }),
                             Tell([](ToldProbe& p) { p.holdsProgram = true; })}) {
        EXPECT_EQ(L"Cannot lock this critical folder!", Told(tell));
    }
    EXPECT_EQ(
        L"This folder is reached through a link (a junction or a symbolic link), so it cannot be locked. Choose "
        L"the folder the link leads to.",
        Told([](ToldProbe& p) { p.withoutLinks = false; }));
    EXPECT_EQ(L"You may not open this folder, so it cannot be locked for you.",
              Told([](ToldProbe& p) { p.list = FolderAccess::Denied; }));
    // Not there: said so only to an asker known.
    EXPECT_EQ(L"This folder cannot be found, so it cannot be locked.",
              Told([](ToldProbe& p) { p.opening = Opening::Gone; }));
    for (const Tell& tell : {Tell([](ToldProbe& p) { p.opening = Opening::Gone, p.asker = false; }),
                             Tell([](ToldProbe& p) { p.opening = Opening::Failed; }),
                             Tell([](ToldProbe& p) { p.list = FolderAccess::Unknown; }),
                             Tell([](ToldProbe& p) { p.identity.fileId = 0; })}) {
        EXPECT_EQ(unknown, Told(tell));
    }
    EXPECT_EQ(notYours, Told([](ToldProbe& p) { p.readFiles = false; }));
    EXPECT_EQ(L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.",
              Told(scanned({3, false, false}), tree));
    EXPECT_EQ(notYours, Told(scanned({3, true, false}), tree));
    EXPECT_EQ(TreeTooLargeText(10), Told(scanned({11, true, true}), tree));
}

}  // namespace
}  // namespace vaultmere
