#include <gtest/gtest.h>

#include "common/TextCase.h"
#include "locker/FileLocker.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

class FileLockerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteTextFile(folder / L"a.txt", "a"));
        ASSERT_TRUE(WriteTextFile(folder / L"noextension", "b"));
        ASSERT_TRUE(WriteTextFile(folder / L"hidden.txt", "h"));
        ::SetFileAttributesW((folder / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        ASSERT_TRUE(MakeFolder(folder / L"sub"));
        ASSERT_TRUE(WriteTextFile(folder / L"sub\\inner.txt", "i"));
    }
    std::wstring Item() const { return LowerCase(folder.Path()) + L"\\*.*"; }

    TempFolder folder;
    FileLocker locker;
};

TEST_F(FileLockerTest, FolderItemLocksVisibleFilesDirectlyInsideUntilUnlocked) {
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"noextension"));
    // Hidden files and what lies in subfolders are not covered.
    EXPECT_EQ(0u, OpenFromOutside(folder / L"hidden.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"sub\\inner.txt"));
    // Nor can the locked files be renamed or deleted.
    EXPECT_FALSE(::DeleteFileW((folder / L"a.txt").c_str()));
    EXPECT_FALSE(::MoveFileW((folder / L"a.txt").c_str(), (folder / L"moved.txt").c_str()));
    EXPECT_EQ(1u, locker.Report().items);
    EXPECT_EQ(2u, locker.Report().lockedFiles);

    // Unlocking matches the path without regard to case.
    std::wstring upper = folder.Path() + L"\\*.*";
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    locker.SetItemLocked(upper, false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"noextension"));
    EXPECT_EQ(0u, locker.Report().items);
}

TEST_F(FileLockerTest, SecondLockNeedsASecondUnlock) {
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    ASSERT_TRUE(WriteTextFile(folder / L"later.txt", "l"));
    // The folder's watch takes the new file without a second lock.
    EXPECT_TRUE(WaitUntil([&] { return OpenHere(folder / L"later.txt") == ERROR_SHARING_VIOLATION; }));
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().items);
    EXPECT_EQ(3u, locker.Report().lockedFiles);

    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenHere(folder / L"a.txt"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenHere(folder / L"later.txt"));
    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenHere(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenHere(folder / L"later.txt"));
}

TEST_F(FileLockerTest, FileOpenElsewhereWaitsAndTheRestIsLocked) {
    UniqueHandle busy(::CreateFileW((folder / L"a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy);
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().lockedFiles);
    EXPECT_EQ(1u, locker.Report().pendingFiles);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"noextension"));
    busy.Reset();
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().lockedFiles == 2; }));
    EXPECT_EQ(0u, locker.Report().pendingFiles);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenHere(folder / L"a.txt"));
}

TEST_F(FileLockerTest, PlainFilePathLocksThatFileOnly) {
    locker.SetItemLocked(folder / L"a.txt", true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"noextension"));
    locker.SetItemLocked(folder / L"a.txt", false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
}

TEST_F(FileLockerTest, OddPathsDoNothing) {
    const std::wstring paths[] = {L"\\\\.\\PhysicalDrive0",
                                  L"CON",
                                  L"relative\\*.*",
                                  folder / L"sub",
                                  folder / L"missing\\*.*",
                                  L"q:\\nowhere\\*.*",
                                  L"\\\\nohost\\noshare\\*.*",
                                  L""};
    for (const std::wstring& path : paths) locker.SetItemLocked(path, true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(0u, locker.Report().lockedFiles);
    // The folder named as if it were a file was not opened.
    EXPECT_TRUE(::MoveFileW((folder / L"sub").c_str(), (folder / L"sub2").c_str()));
    for (const std::wstring& path : paths) locker.SetItemLocked(path, false);
    locker.SetItemLocked(folder / L"never-locked\\*.*", false);
    EXPECT_EQ(0u, locker.Report().items);
}

TEST_F(FileLockerTest, PathsBeyondMaxPathAndOutsideTheAnsiCodePage) {
    std::wstring deep = folder.Path();
    while (deep.size() < 400) {
        deep += L"\\\x65E5\x672C-\x0161\x00E9-folder-name";
        ASSERT_TRUE(MakeFolder(L"\\\\?\\" + deep));
    }
    ASSERT_TRUE(WriteTextFile(L"\\\\?\\" + deep + L"\\\x00FC.txt", "x"));
    locker.SetItemLocked(deep + L"\\*.*", true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().lockedFiles);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenHere(L"\\\\?\\" + deep + L"\\\x00FC.txt"));
    locker.SetItemLocked(deep + L"\\*.*", false);
    EXPECT_EQ(0u, OpenHere(L"\\\\?\\" + deep + L"\\\x00FC.txt"));
    DeleteTree(L"\\\\?\\" + folder.Path());
}

TEST_F(FileLockerTest, LockHandlesAreNotInherited) {
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    // A child started with handle inheritance on cannot keep the lock alive.
    UniqueHandle child = StartProcess(BinaryFolder() + L"\\outsider.exe", L"\"" + folder / L"a.txt" + L"\"", true);
    ASSERT_TRUE(child);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, WaitForExit(child.Get(), 30000));
    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenHere(folder / L"a.txt"));
}

}  // namespace
}  // namespace vaultmere
