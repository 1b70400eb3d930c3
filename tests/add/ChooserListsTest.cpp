#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TextCase.h"
#include "forms/add/ChooserLists.h"
#include "forms/add/DriveReach.h"
#include "forms/add/Win32FolderSource.h"
#include "locker/ItemPath.h"
#include "tests/add/AddTestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

using Names = std::vector<std::wstring>;

std::vector<std::wstring> SubfolderPaths(const FolderList& list) {
    std::vector<std::wstring> paths;
    paths.reserve(static_cast<size_t>(list.ListCount()));
    for (int i = 0; i < list.ListCount(); ++i) paths.push_back(list.List(i));
    return paths;
}

class ChooserListsTest : public ::testing::Test {
protected:
    add_tests::BrowseTree tree;
    Win32FolderSource disks;
};

TEST_F(ChooserListsTest, FolderListIndicesRunUpToTheRootAndDownIntoSubfolders) {
    FolderList dir(disks);
    ASSERT_EQ(PathChange::Changed, dir.SetPath(tree.Alpha()));
    EXPECT_EQ(tree.Alpha(), dir.Path());
    EXPECT_EQ(-1, dir.ListIndex());

    // -1 the folder itself, -2 the one above, ... down to the drive root.
    const std::vector<std::wstring> chain = FolderChain(tree.Alpha());
    ASSERT_EQ(static_cast<int>(chain.size()), dir.PathDepth());
    EXPECT_EQ(tree.Alpha(), dir.List(-1));
    EXPECT_EQ(tree.Root(), dir.List(-2));
    EXPECT_EQ(tree.Alpha().substr(0, 3), dir.List(-dir.PathDepth()));
    EXPECT_EQ(L"Alpha", dir.Name(-1));
    EXPECT_EQ(tree.Alpha().substr(0, 3), dir.Name(-dir.PathDepth()));

    // Subfolders from 0, in name order whatever their case, hidden ones too;
    // files are not among them.
    EXPECT_EQ(tree.AlphaFolders(), SubfolderPaths(dir));
    EXPECT_EQ(L"Beta", dir.Name(0));

    // Out of range reads give nothing and do not move the selection.
    EXPECT_EQ(L"", dir.List(3));
    EXPECT_EQ(L"", dir.List(-dir.PathDepth() - 1));
    dir.SetListIndex(1);
    dir.SetListIndex(7);
    EXPECT_EQ(1, dir.ListIndex());
}

TEST_F(ChooserListsTest, SettingThePathReportsWhetherTheFolderChanged) {
    FolderList dir(disks);
    ASSERT_EQ(PathChange::Changed, dir.SetPath(tree.Alpha()));
    const unsigned reads = dir.Generation();
    dir.SetListIndex(0);

    // The same folder in another spelling is read again but is no change.
    std::wstring upper = tree.Alpha() + L"\\";
    ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    EXPECT_EQ(PathChange::Same, dir.SetPath(upper));
    EXPECT_EQ(-1, dir.ListIndex());
    EXPECT_GT(dir.Generation(), reads);

    EXPECT_EQ(PathChange::Changed, dir.SetPath(tree.Beta() + L"\\Deep\\..\\."));
    EXPECT_EQ(tree.Beta(), dir.Path());
    EXPECT_EQ(Names{tree.Beta() + L"\\Deep"}, SubfolderPaths(dir));
}

TEST_F(ChooserListsTest, UnreadableFolderLeavesTheListAsItWas) {
    FolderList dir(disks);
    FileList files(disks);
    ASSERT_EQ(PathChange::Changed, dir.SetPath(tree.Alpha()));
    ASSERT_TRUE(files.SetPath(tree.Alpha()));
    const unsigned dirReads = dir.Generation();
    const unsigned fileReads = files.Generation();

    const std::wstring file = tree.Alpha() + L"\\one.txt";
    const wchar_t missing[] = {add_tests::MissingDriveLetter(), L':', L'\0'};
    for (const std::wstring& bad : {tree.Alpha() + L"\\nothing-here", file, std::wstring(missing),
                                    std::wstring(missing) + L"\\x", std::wstring(), std::wstring(L"\\\\srv")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(PathChange::Failed, dir.SetPath(bad));
        EXPECT_FALSE(files.SetPath(bad));
    }
    EXPECT_EQ(tree.Alpha(), dir.Path());
    EXPECT_EQ(tree.AlphaFolders(), SubfolderPaths(dir));
    EXPECT_EQ(dirReads, dir.Generation());
    EXPECT_EQ(tree.Alpha(), files.Path());
    EXPECT_EQ(tree.AlphaFiles(), files.Entries());
    EXPECT_EQ(fileReads, files.Generation());
}

TEST_F(ChooserListsTest, FileListShowsEveryFileDirectlyInTheFolderHiddenAndSystemToo) {
    FileList files(disks);
    EXPECT_EQ(L"*.*", files.Pattern());
    ASSERT_TRUE(files.SetPath(tree.Alpha()));
    EXPECT_EQ(tree.AlphaFiles(), files.Entries());
    ASSERT_EQ(5, files.ListCount());
    EXPECT_EQ(L"hidden.txt", files.List(0));
    EXPECT_EQ(L"", files.List(5));

    ASSERT_TRUE(files.SetPath(tree.Beta() + L"\\Deep"));
    EXPECT_EQ(0, files.ListCount());

    files.SetPattern(L"*.txt");
    ASSERT_TRUE(files.SetPath(tree.Alpha()));
    EXPECT_EQ((Names{L"hidden.txt", L"one.txt", L"Two.TXT"}), files.Entries());
}

TEST_F(ChooserListsTest, LongAndNonAsciiPathsAreBrowsed) {
    // Deeper than MAX_PATH, with names outside ASCII on the way.
    std::wstring folder = tree.Root();
    const std::wstring name = L"\u0160\u010derba-\u65e5\u672c-" + std::wstring(40, L'x');
    while (folder.size() < 400) {
        folder += L"\\" + name;
        ASSERT_TRUE(::CreateDirectoryW(ExtendedLengthPath(folder).c_str(), nullptr)) << ::GetLastError();
    }
    const std::wstring parent = folder.substr(0, folder.find_last_of(L'\\'));
    ASSERT_TRUE(WriteTextFile(ExtendedLengthPath(folder + L"\\\u00e9t\u00e9.txt"), "x"));

    FolderList dir(disks);
    FileList files(disks);
    ASSERT_EQ(PathChange::Changed, dir.SetPath(parent));
    ASSERT_EQ(1, dir.ListCount());
    EXPECT_EQ(folder, dir.List(0));
    EXPECT_EQ(name, dir.Name(0));
    ASSERT_EQ(PathChange::Changed, dir.SetPath(dir.List(0)));
    EXPECT_EQ(name, dir.Name(-1));
    ASSERT_TRUE(files.SetPath(dir.Path()));
    EXPECT_EQ(Names{L"\u00e9t\u00e9.txt"}, files.Entries());
}

TEST_F(ChooserListsTest, DriveListHasOneEntryPerDriveAndGivesAPathTheFolderListTakes) {
    DriveList drives(disks);
    drives.Refresh();
    const DWORD present = ::GetLogicalDrives();
    int expected = 0;
    for (int bit = 0; bit < 26; ++bit) expected += static_cast<int>((present >> bit) & 1);
    ASSERT_EQ(expected, drives.ListCount());
    EXPECT_EQ(-1, drives.ListIndex());
    EXPECT_EQ(L"", drives.Drive());

    ASSERT_TRUE(drives.SetDrive(tree.Alpha()));
    const std::wstring drive = drives.Drive();
    ASSERT_EQ(2u, drive.size());
    EXPECT_EQ(LowerCase(tree.Alpha().substr(0, 2)), drive);
    EXPECT_EQ(drive, drives.List(drives.ListIndex()).substr(0, 2));

    // The selection survives a refresh; a drive that is not there is not selected.
    drives.Refresh();
    EXPECT_EQ(drive, drives.Drive());
    const wchar_t missing[] = {add_tests::MissingDriveLetter(), L':', L'\0'};
    EXPECT_FALSE(drives.SetDrive(missing));
    EXPECT_FALSE(drives.SetDrive(L"\\\\srv\\share"));
    EXPECT_EQ(drive, drives.Drive());

    FolderList dir(disks);
    EXPECT_NE(PathChange::Failed, dir.SetPath(drive));
    EXPECT_TRUE(EqualsIgnoringCase(drive, dir.Path().substr(0, 2)));
}

TEST_F(ChooserListsTest, ASubstLetterIsToldAsTheFolderItStandsForAndAVolumeAsItself) {
    const DriveFacts volume = disks.DriveFactsOf(tree.Root()[0]);
    EXPECT_EQ(DriveKind::Fixed, volume.kind);
    EXPECT_EQ(0u, volume.device.rfind(L"\\Device\\", 0)) << volume.device;
    const auto real = [this](wchar_t letter) { return disks.DriveFactsOf(letter); };
    EXPECT_EQ(tree.Alpha(), ReachableFolder(tree.Alpha(), real).folder);

    // A letter standing for the tree's root, as subst makes one.
    const std::wstring drive{add_tests::MissingDriveLetter(), L':'};
    ASSERT_NE(L'\0', drive[0]);
    ASSERT_TRUE(::DefineDosDeviceW(0, drive.c_str(), tree.Root().c_str()));
    const DriveFacts subst = disks.DriveFactsOf(drive[0]);
    const FolderReach reach = ReachableFolder(drive + L"\\Alpha\\Beta", real);
    ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive.c_str(), tree.Root().c_str());
    EXPECT_EQ(L"\\??\\" + tree.Root(), subst.device);
    EXPECT_EQ(tree.Beta(), reach.folder);
    EXPECT_EQ(L"", disks.DriveFactsOf(drive[0]).device);
}

}  // namespace
}  // namespace vaultmere
