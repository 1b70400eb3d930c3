#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

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
    chooser.Load(tree.Beta());
    const LockFolderPlan plan = chooser.PlanLockFolder();
    ASSERT_EQ(LockFolderPlan::Action::Add, plan.action);
    std::wstring item = tree.Beta() + L"\\*.*";
    ::CharLowerBuffW(&item[0], static_cast<DWORD>(item.size()));
    EXPECT_EQ(item, plan.item);
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.", plan.confirmation);

    // With its subfolders: the tree's item.
    const LockFolderPlan withSubfolders = chooser.PlanLockFolder(true);
    ASSERT_EQ(LockFolderPlan::Action::Add, withSubfolders.action);
    std::wstring treeItem = tree.Beta() + L"\\**\\*.*";
    ::CharLowerBuffW(&treeItem[0], static_cast<DWORD>(treeItem.size()));
    EXPECT_EQ(treeItem, withSubfolders.item);
    EXPECT_EQ(L"Folder " + treeItem + L" added for locking! Sub folders were locked too.", withSubfolders.confirmation);
}

TEST_F(AddChooserTest, AFolderOnASubstLetterIsAddedAsTheFolderItStandsForAndOneOnANetworkDriveIsRefused) {
    ASSERT_NE(L'\0', disks.Letter());
    disks.substTarget = tree.Root();
    chooser.Load(disks.Root() + L"Alpha");
    ASSERT_EQ(disks.Root() + L"Alpha", chooser.folderList.Path());
    ASSERT_EQ(tree.AlphaFiles(), chooser.fileList.Entries());
    LockFolderPlan plan = chooser.PlanLockFolder();
    ASSERT_EQ(LockFolderPlan::Action::Add, plan.action);
    std::wstring item = tree.Alpha() + L"\\*.*";
    ::CharLowerBuffW(&item[0], static_cast<DWORD>(item.size()));
    EXPECT_EQ(item, plan.item);
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.", plan.confirmation);

    disks.facts[disks.Letter()] = DriveFacts{DriveKind::Remote, L"\\Device\\Mup\\;X:\\server\\share"};
    plan = chooser.PlanLockFolder();
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
    EXPECT_EQ(LockFolderPlan::Action::None, chooser.PlanLockFolder().action);
}

}  // namespace
}  // namespace vaultmere
