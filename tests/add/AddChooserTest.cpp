#include <gtest/gtest.h>

#include <cwctype>
#include <string>
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
    ASSERT_EQ(2u, chooser.Drive1.Drive().size());
    EXPECT_EQ(::towlower(tree.Alpha()[0]), chooser.Drive1.Drive()[0]);
    EXPECT_EQ(tree.Alpha(), chooser.Dir1.Path());
    EXPECT_EQ(-1, chooser.Dir1.ListIndex());
    EXPECT_EQ(tree.Alpha(), chooser.File1.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.File1.Entries());
}

TEST_F(AddChooserTest, OneClickGoesIntoASubfolderOrUpToAFolderAbove) {
    chooser.Load(tree.Alpha());
    chooser.Dir1.SetListIndex(0);
    chooser.Dir1_Click();
    EXPECT_EQ(tree.Beta(), chooser.Dir1.Path());
    EXPECT_EQ(tree.Beta(), chooser.File1.Path());
    EXPECT_EQ(Names{L"inner.txt"}, chooser.File1.Entries());

    chooser.Dir1.SetListIndex(-3);
    chooser.Dir1_Click();
    EXPECT_EQ(tree.Root(), chooser.Dir1.Path());
    EXPECT_EQ(tree.Root(), chooser.File1.Path());
    EXPECT_EQ(0, chooser.File1.ListCount());
    EXPECT_EQ(Names{tree.Alpha()}, Names{chooser.Dir1.List(0)});
}

TEST_F(AddChooserTest, FileListFollowsWithItsOwnPatternAndRereadsWhenAskedAgain) {
    chooser.File1.SetPattern(L"*.txt");
    chooser.Load(tree.Alpha());
    EXPECT_EQ((Names{L"hidden.txt", L"one.txt", L"Two.TXT"}), chooser.File1.Entries());

    chooser.File1.SetPattern(L"*.*");
    ASSERT_TRUE(WriteTextFile(tree.Alpha() + L"\\new.dat", "n"));
    chooser.Dir1_Change();
    EXPECT_EQ((Names{L"hidden.txt", L"new.dat", L"one.txt", L"README", L"system.sys", L"Two.TXT"}),
              chooser.File1.Entries());

    // A click on the folder itself reads it again, the file list too.
    ::DeleteFileW((tree.Alpha() + L"\\new.dat").c_str());
    chooser.Dir1.SetListIndex(-1);
    chooser.Dir1_Click();
    EXPECT_EQ(tree.AlphaFiles(), chooser.File1.Entries());
}

TEST_F(AddChooserTest, VanishedFolderLeavesBothListsWhereTheyWere) {
    chooser.Load(tree.Alpha());
    DeleteTree(tree.Alpha() + L"\\Zeta");
    chooser.Dir1.SetListIndex(2);
    chooser.Dir1_Click();
    EXPECT_EQ(tree.Alpha(), chooser.Dir1.Path());
    EXPECT_EQ(3, chooser.Dir1.ListCount());
    EXPECT_EQ(tree.Alpha(), chooser.File1.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.File1.Entries());
}

TEST_F(AddChooserTest, DriveThatIsNotReadyLeavesFolderAndFileListsWhereTheyWere) {
    ASSERT_NE(L'\0', disks.Letter());
    chooser.Load(tree.Alpha());
    const wchar_t drive[] = {disks.Letter(), L':', L'\0'};
    ASSERT_TRUE(chooser.Drive1.SetDrive(drive));
    chooser.Drive1_Change();
    EXPECT_EQ(drive, chooser.Drive1.Drive());
    EXPECT_EQ(tree.Alpha(), chooser.Dir1.Path());
    EXPECT_EQ(tree.Alpha(), chooser.File1.Path());
    EXPECT_EQ(tree.AlphaFiles(), chooser.File1.Entries());

    // Back on a ready drive, the lists follow it to its current folder.
    ASSERT_TRUE(chooser.Drive1.SetDrive(tree.Alpha()));
    chooser.Drive1_Change();
    EXPECT_EQ(::towlower(tree.Alpha()[0]), ::towlower(chooser.Dir1.Path()[0]));
    EXPECT_EQ(chooser.Dir1.Path(), chooser.File1.Path());
}

TEST_F(AddChooserTest, UnreadableStartFolderFallsBackToItsDrive) {
    chooser.Load(tree.Alpha() + L"\\not-there");
    EXPECT_FALSE(chooser.Dir1.Path().empty());
    EXPECT_EQ(::towlower(tree.Alpha()[0]), ::towlower(chooser.Dir1.Path()[0]));
    EXPECT_EQ(chooser.Dir1.Path(), chooser.File1.Path());
}

TEST_F(AddChooserTest, LockFolderPlansTheItemAndTheConfirmation) {
    chooser.Load(tree.Alpha());
    const LockFolderPlan plan = chooser.PlanLockFolder(tree.Beta() + L"\\");
    ASSERT_EQ(LockFolderPlan::Action::Add, plan.action);
    std::wstring item = tree.Alpha() + L"\\*.*";
    ::CharLowerBuffW(&item[0], static_cast<DWORD>(item.size()));
    EXPECT_EQ(item, plan.item);
    EXPECT_EQ(L"Folder " + item + L" added for locking! NOTE: Sub folders were not locked.", plan.confirmation);

    // An empty folder is accepted; so is one whose subfolder holds the program.
    chooser.Load(tree.Beta() + L"\\Deep");
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(L"").action);
    ASSERT_TRUE(WriteTextFile(tree.Beta() + L"\\Deep\\brwaddon.exe", "MZ"));
    chooser.Load(tree.Beta());
    EXPECT_EQ(LockFolderPlan::Action::Add, chooser.PlanLockFolder(tree.Alpha()).action);
}

TEST_F(AddChooserTest, ProgramsOwnFolderIsRefusedByFileNameInAnyCaseOrAsTheProgramFolder) {
    for (const wchar_t* name : {L"brwaddon.exe", L"BRWADDON.EXE", L"BrwAddon.exe"}) {
        SCOPED_TRACE(name);
        TempFolder folder;
        ASSERT_TRUE(WriteTextFile(folder / L"aaa.txt", "a"));
        ASSERT_TRUE(WriteTextFile(folder / name, "MZ"));
        ASSERT_TRUE(WriteTextFile(folder / L"zzz.txt", "z"));
        chooser.Load(folder.Path());
        ASSERT_EQ(3, chooser.File1.ListCount());
        EXPECT_EQ(LockFolderPlan::Action::Refuse, chooser.PlanLockFolder(L"").action);
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

TEST_F(AddChooserTest, NoFolderMeansNothingToDo) {
    EXPECT_EQ(LockFolderPlan::Action::None, chooser.PlanLockFolder(tree.Alpha()).action);
}

}  // namespace
}  // namespace vaultmere
