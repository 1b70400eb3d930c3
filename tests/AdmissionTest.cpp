#include <gtest/gtest.h>

#include <string>

#include "common/LockBudget.h"
#include "locker/Admission.h"

namespace vaultmere {
namespace {

// The disk as a test tells it, with what was asked of it.
struct ToldProbe : AdmissionProbe {
    Opening opening = Opening::Opened;
    bool ruleAllows = true;
    bool holdsProgram = false;
    bool withoutLinks = true;
    bool asker = true;
    FolderAccess list = FolderAccess::Granted;
    ApprovedFolder identity{42, 7};
    bool readFiles = true;
    TreeAccess tree;

    std::wstring opened;
    bool askedTree = false;
    std::wstring readName;
    std::size_t scanMost = 0;

    Opening Open(const std::wstring& folder) override {
        opened = folder;
        return opening;
    }
    bool RuleAllows(bool withSubfolders) override {
        askedTree = withSubfolders;
        return ruleAllows;
    }
    bool HoldsProgramFile() override { return holdsProgram; }
    bool ReachedWithoutLinks() override { return withoutLinks; }
    bool KnowsAsker() const override { return asker; }
    FolderAccess MayList() override { return list; }
    ApprovedFolder Identity() override { return identity; }
    bool MayReadFiles(const std::wstring& name) override {
        readName = name;
        return readFiles;
    }
    TreeAccess ScanTree(std::size_t most) override {
        scanMost = most;
        return tree;
    }
};

const AdmissionWay kGuard{false, 10};

std::wstring RefusalOf(ToldProbe probe, const std::wstring& path = L"c:\\data\\*.*", AdmissionWay way = kGuard) {
    return Admit(path, way, probe).refusal;
}

TEST(Admission, AFolderTheAskerMayOpenWholeIsApprovedAsTheFolderOpened) {
    ToldProbe probe;
    const AdmissionVerdict plain = Admit(L"C:\\Data\\.\\*.txt", kGuard, probe);
    EXPECT_EQ(L"", plain.refusal);
    EXPECT_EQ(42, plain.approved.fileId);
    EXPECT_EQ(7u, plain.approved.volume);
    EXPECT_EQ(L"C:\\Data", probe.opened);
    EXPECT_FALSE(probe.askedTree);
    EXPECT_EQ(L"*.txt", probe.readName);

    probe.tree.entries = 10;
    EXPECT_EQ(42, Admit(L"c:\\data\\**\\*.*", kGuard, probe).approved.fileId);
    EXPECT_TRUE(probe.askedTree);
    EXPECT_EQ(10u, probe.scanMost);
    // Shares only for one that locks as the asker; an early answer reads nothing inside.
    EXPECT_EQ(L"", RefusalOf(ToldProbe(), L"\\\\server\\share\\*.*", AdmissionWay{true, 10}));
    ToldProbe early;
    early.readFiles = false;
    EXPECT_EQ(L"", RefusalOf(early, L"c:\\data\\*.*", AdmissionWay{}));
}

TEST(Admission, EachRefusalSaysWhyInTheOrderTheChecksAreMade) {
    const std::wstring critical = L"Cannot lock this critical folder!";
    const std::wstring unknown = L"Whether you may open this folder cannot be checked, so it cannot be locked for you.";
    const std::wstring notYours = L"You may not read every file in this folder, so it cannot be locked for you.";
    EXPECT_EQ(L"This item cannot be locked.", RefusalOf(ToldProbe(), L"data\\*.*"));
    EXPECT_EQ(L"Network folders can only be locked by an administrator through the stored list.",
              RefusalOf(ToldProbe(), L"\\\\server\\share\\*.*"));

    ToldProbe probe;
    probe.ruleAllows = false;
    probe.opening = AdmissionProbe::Opening::Failed;  // judged by its name all the same
    probe.asker = false;
    EXPECT_EQ(critical, RefusalOf(probe));
    probe = ToldProbe();
    probe.holdsProgram = true;
    EXPECT_EQ(critical, RefusalOf(probe));
    probe.holdsProgram = false;
    probe.withoutLinks = false;
    EXPECT_NE(std::wstring::npos, RefusalOf(probe).find(L"reached through a link"));
    probe.withoutLinks = true;
    probe.list = FolderAccess::Denied;
    EXPECT_EQ(L"You may not open this folder, so it cannot be locked for you.", RefusalOf(probe));
    probe.list = FolderAccess::Unknown;
    EXPECT_EQ(unknown, RefusalOf(probe));
    probe.list = FolderAccess::Granted;
    probe.identity.fileId = 0;
    EXPECT_EQ(unknown, RefusalOf(probe));

    // Not there: said so only to an asker known.
    probe = ToldProbe();
    probe.opening = AdmissionProbe::Opening::Gone;
    EXPECT_EQ(L"This folder cannot be found, so it cannot be locked.", RefusalOf(probe));
    probe.asker = false;
    EXPECT_EQ(unknown, RefusalOf(probe));
    probe.opening = AdmissionProbe::Opening::Failed;
    probe.asker = true;
    EXPECT_EQ(unknown, RefusalOf(probe));

    probe = ToldProbe();
    probe.readFiles = false;
    EXPECT_EQ(notYours, RefusalOf(probe));
    probe = ToldProbe();
    probe.tree = TreeAccess{3, false, false};
    EXPECT_EQ(L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.",
              RefusalOf(probe, L"c:\\data\\**\\*.*"));
    probe.tree = TreeAccess{3, true, false};
    EXPECT_EQ(notYours, RefusalOf(probe, L"c:\\data\\**\\*.*"));
    probe.tree = TreeAccess{11, true, true};
    EXPECT_EQ(TreeTooLargeText(10), RefusalOf(probe, L"c:\\data\\**\\*.*"));
}

}  // namespace
}  // namespace vaultmere
