#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "common/LockBudget.h"
#include "forms/add/AddChooser.h"
#include "forms/add/Win32FolderSource.h"
#include "tests/add/AddTestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

using Names = std::vector<std::wstring>;

class AddChooserTest : public ::testing::Test {
protected:
    add_tests::BrowseTree tree;
    add_tests::DisksWithEmptyDrive disks;
    AddChooser chooser{disks};
};

TEST_F(AddChooserTest, LoadPutsEveryListOnTheStartFolder) {
    chooser.Load(tree.Alpha());
    ASSERT_EQ(2u, chooser.driveList.Drive().size());
    EXPECT_EQ(::towlower(tree.Alpha()[0]), chooser.driveList.Drive()[0]);
    EXPECT_EQ(tree.Alpha(), chooser.folderList.Path());
    EXPECT_EQ(-1, chooser.folderList.ListIndex());
    EXPECT_EQ(tree.Alpha(), chooser.fileList.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
}

TEST_F(AddChooserTest, OneClickGoesIntoASubfolderOrUpToAFolderAbove) {
    chooser.Load(tree.Alpha());
    chooser.folderList.SetListIndex(0);
    chooser.OnFolderClick();
    EXPECT_EQ(tree.Beta(), chooser.folderList.Path());
    EXPECT_EQ(tree.Beta(), chooser.fileList.Path());
    EXPECT_EQ(Names{L"inner.txt"}, chooser.fileList.Entries());

    chooser.folderList.SetListIndex(-3);
    chooser.OnFolderClick();
    EXPECT_EQ(tree.Root(), chooser.folderList.Path());
    EXPECT_EQ(tree.Root(), chooser.fileList.Path());
    EXPECT_EQ(0, chooser.fileList.ListCount());
    EXPECT_EQ(Names{tree.Alpha()}, Names{chooser.folderList.List(0)});
}

TEST_F(AddChooserTest, FileListFollowsWithItsOwnPatternAndRereadsWhenAskedAgain) {
    chooser.fileList.SetPattern(L"*.txt");
    chooser.Load(tree.Alpha());
    EXPECT_EQ((Names{L"hidden.txt", L"one.txt", L"Two.TXT"}), chooser.fileList.Entries());

    chooser.fileList.SetPattern(L"*.*");
    ASSERT_TRUE(WriteTextFile(tree.Alpha() + L"\\new.dat", "n"));
    chooser.OnFolderChange();
    EXPECT_EQ((Names{L"hidden.txt", L"new.dat", L"one.txt", L"README", L"system.sys", L"Two.TXT"}),
              chooser.fileList.Entries());

    // A click on the folder itself reads it again, the file list too.
    ::DeleteFileW((tree.Alpha() + L"\\new.dat").c_str());
    chooser.folderList.SetListIndex(-1);
    chooser.OnFolderClick();
    EXPECT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
}

TEST_F(AddChooserTest, VanishedFolderLeavesBothListsWhereTheyWere) {
    chooser.Load(tree.Alpha());
    DeleteTree(tree.Alpha() + L"\\Zeta");
    chooser.folderList.SetListIndex(2);
    chooser.OnFolderClick();
    EXPECT_EQ(tree.Alpha(), chooser.folderList.Path());
    EXPECT_EQ(3, chooser.folderList.ListCount());
    EXPECT_EQ(tree.Alpha(), chooser.fileList.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
}

TEST_F(AddChooserTest, DriveThatIsNotReadyLeavesFolderAndFileListsWhereTheyWere) {
    ASSERT_NE(L'\0', disks.Letter());
    chooser.Load(tree.Alpha());
    const wchar_t drive[] = {disks.Letter(), L':', L'\0'};
    ASSERT_TRUE(chooser.driveList.SetDrive(drive));
    chooser.OnDriveChange();
    EXPECT_EQ(drive, chooser.driveList.Drive());
    EXPECT_EQ(tree.Alpha(), chooser.folderList.Path());
    EXPECT_EQ(tree.Alpha(), chooser.fileList.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());

    // Back on a ready drive, the lists follow it to its current folder.
    ASSERT_TRUE(chooser.driveList.SetDrive(tree.Alpha()));
    chooser.OnDriveChange();
    EXPECT_EQ(::towlower(tree.Alpha()[0]), ::towlower(chooser.folderList.Path()[0]));
    EXPECT_EQ(chooser.folderList.Path(), chooser.fileList.Path());
}

TEST_F(AddChooserTest, UnreadableStartFolderFallsBackToItsDrive) {
    chooser.Load(tree.Alpha() + L"\\not-there");
    EXPECT_FALSE(chooser.folderList.Path().empty());
    EXPECT_EQ(::towlower(tree.Alpha()[0]), ::towlower(chooser.folderList.Path()[0]));
    EXPECT_EQ(chooser.folderList.Path(), chooser.fileList.Path());
}

TEST_F(AddChooserTest, LockFolderPlansTheItemAndTheConfirmation) {
    chooser.Load(tree.Alpha());
    const LockFolderPlan plan = chooser.PlanLockFolder(tree.Beta() + L"\\");
    ASSERT_EQ(LockFolderPlan::Action::Add, plan.action);
    std::wstring item = tree.Alpha() + L"\\*.*";
    ::CharLowerBuffW(&item[0], static_cast<DWORD>(item.size()));
    EXPECT_EQ(item, plan.item);
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.", plan.confirmation);

    // An empty folder is accepted; so is one whose subfolder holds the
    // program, but not one inside the program's folder.
    chooser.Load(tree.Beta() + L"\\Deep");
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(L"").action);
    ASSERT_TRUE(WriteTextFile(tree.Beta() + L"\\Deep\\brwaddon.exe", "MZ"));
    chooser.Load(tree.Beta());
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(tree.Alpha() + L"\\Zeta").action);
    EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(tree.Alpha()).action);

    // With its subfolders: the tree's item, counted against the limit
    // (Beta: Deep, Deep\brwaddon.exe, inner.txt), and refused when the
    // program's folder lies beneath it.
    LockFolderPlan withSubfolders = chooser.PlanLockFolder(tree.Alpha() + L"\\Zeta", {}, true, 3);
    ASSERT_EQ(LockFolderPlan::Action::Add, withSubfolders.action);
    std::wstring treeItem = tree.Beta() + L"\\**\\*.*";
    ::CharLowerBuffW(&treeItem[0], static_cast<DWORD>(treeItem.size()));
    EXPECT_EQ(treeItem, withSubfolders.item);
    EXPECT_EQ(L"Folder " + treeItem + L" added for locking! Sub folders were locked too.", withSubfolders.confirmation);
    withSubfolders = chooser.PlanLockFolder(tree.Alpha() + L"\\Zeta", {}, true, 2);
    EXPECT_EQ(LockFolderPlan::Action::Refuse, withSubfolders.action);
    EXPECT_EQ(TreeTooLargeText(2), withSubfolders.refusal);
    EXPECT_TRUE(withSubfolders.item.empty());
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(tree.Alpha() + L"\\Zeta", {}, true).action)
        << "without a limit the guard counts it";
    EXPECT_EQ(L"Cannot lock this critical folder!", chooser.PlanLockFolder(tree.Beta() + L"\\Deep", {}, true).refusal);
    EXPECT_EQ(L"Cannot lock this critical folder!",
              chooser.PlanLockFolder(L"", {tree.Beta() + L"\\DEEP\\"}, true).refusal);
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(L"", {tree.Beta() + L"\\DEEP\\"}).action);
}

TEST_F(AddChooserTest, ProgramsOwnFolderIsRefusedByFileNameInAnyCaseOrAsTheProgramFolder) {
    for (const wchar_t* name : {L"brwaddon.exe", L"BRWADDON.EXE", L"BrwAddon.exe"}) {
        SCOPED_TRACE(name);
        TempFolder folder;
        ASSERT_TRUE(WriteTextFile(folder / L"aaa.txt", "a"));
        ASSERT_TRUE(WriteTextFile(folder / name, "MZ"));
        ASSERT_TRUE(WriteTextFile(folder / L"zzz.txt", "z"));
        chooser.Load(folder.Path());
        ASSERT_EQ(3, chooser.fileList.ListCount());
        EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(L"").action);
        EXPECT_EQ(L"Cannot lock this critical folder!", chooser.PlanLockFolder(L"").refusal);
        EXPECT_TRUE(chooser.PlanLockFolder(L"").item.empty());
    }

    // The folder the program runs from, whatever the program is called and
    // however its path is written.
    chooser.Load(tree.Alpha());
    std::wstring programFolder = tree.Alpha() + L"\\";
    ::CharUpperBuffW(&programFolder[0], static_cast<DWORD>(programFolder.size()));
    EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(programFolder).action);
    EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(tree.Beta() + L"\\..\\\\").action);
}

TEST_F(AddChooserTest, AFolderOnASubstLetterIsAddedAsTheFolderItStandsForAndOneOnANetworkDriveIsRefused) {
    ASSERT_NE(L'\0', disks.Letter());
    disks.substTarget = tree.Root();
    chooser.Load(disks.Root() + L"Alpha");
    ASSERT_EQ(disks.Root() + L"Alpha", chooser.folderList.Path());
    ASSERT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
    LockFolderPlan plan = chooser.PlanLockFolder(L"");
    ASSERT_EQ(LockFolderPlan::Action::Add, plan.action);
    std::wstring item = tree.Alpha() + L"\\*.*";
    ::CharLowerBuffW(&item[0], static_cast<DWORD>(item.size()));
    EXPECT_EQ(item, plan.item);
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.", plan.confirmation);
    // The program's folder is known by the folder the letter stands for, too.
    EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(tree.Alpha()).action);
    EXPECT_EQ(L"Cannot lock this critical folder!", chooser.PlanLockFolder(tree.Alpha()).refusal);

    disks.facts[disks.Letter()] = DriveFacts{DriveKind::Remote, L"\\Device\\Mup\\;X:\\server\\share"};
    plan = chooser.PlanLockFolder(L"");
    EXPECT_EQ(LockFolderPlan::Action::Refuse, plan.action);
    EXPECT_EQ(L"Cannot lock a folder on a network drive: it is connected for your sign-in only.", plan.refusal);
    EXPECT_TRUE(plan.item.empty());
}

TEST_F(AddChooserTest, ATypedPathIsTakenInsideTheFolderShownAndABadOneLeavesTheListsWhereTheyWere) {
    chooser.Load(tree.Alpha());
    EXPECT_EQ(TypedFolderOutcome::Result::Opened, chooser.OpenTypedFolder(L"\"Beta\\Deep\"").result);
    EXPECT_EQ(tree.Beta() + L"\\Deep", chooser.folderList.Path());
    EXPECT_EQ(TypedFolderOutcome::Result::Opened, chooser.OpenTypedFolder(L"..\\..").result);
    const std::pair<std::wstring, const wchar_t*> bad[] = {
        {tree.Alpha() + L"\\missing", L"Cannot find this folder!"},
        {tree.Alpha() + L"\\*", L"Cannot find this folder!"},
        {L"one.txt", L"This is a file, not a folder!"},
        {tree.Alpha() + L"\\" + std::wstring(33000, L'x'), L"This path is too long!"},
    };
    for (const auto& typed : bad) {
        const TypedFolderOutcome outcome = chooser.OpenTypedFolder(typed.first);
        EXPECT_EQ(TypedFolderOutcome::Result::Refused, outcome.result);
        EXPECT_EQ(typed.second, outcome.message);
    }
    EXPECT_EQ(TypedFolderOutcome::Result::Nothing, chooser.OpenTypedFolder(L"  \"\"  ").result);
    EXPECT_EQ(tree.Alpha(), chooser.folderList.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
}

TEST_F(AddChooserTest, NoFolderMeansNothingToDo) {
    EXPECT_EQ(LockFolderPlan::Action::None, chooser.PlanLockFolder(tree.Alpha()).action);
}

}  // namespace
}  // namespace vaultmere
