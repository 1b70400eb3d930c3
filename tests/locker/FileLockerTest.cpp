#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

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
    // Another, made hidden while it waits, is no longer covered.
    UniqueHandle hiding(
        ::CreateFileW((folder / L"hiding.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(hiding);
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().lockedFiles);
    EXPECT_EQ(2u, locker.Report().pendingFiles);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"noextension"));
    ASSERT_TRUE(::SetFileAttributesW((folder / L"hiding.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    hiding.Reset();
    busy.Reset();
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().lockedFiles == 2 && locker.Report().pendingFiles == 0; }));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenHere(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenHere(folder / L"hiding.txt"));
}

TEST_F(FileLockerTest, PlainFilePathLocksThatFileOnlyAndASecondNameOfItCountsAsHeld) {
    locker.SetItemLocked(folder / L"a.txt", true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"noextension"));
    // A hard link to a.txt, met by the folder's listing and named on its own.
    ASSERT_TRUE(::CreateHardLinkW((folder / L"link.txt").c_str(), (folder / L"a.txt").c_str(), nullptr));
    const std::vector<std::wstring> items = {Item(), folder / L"link.txt"};
    for (const std::wstring& item : items) locker.SetItemLocked(item, true);
    ASSERT_TRUE(Settle(locker));
    std::vector<ItemStatus> status = locker.StatusOf(ItemsOf(items));
    EXPECT_EQ(3u, status[0].filesHeld);
    EXPECT_EQ(1u, status[1].filesHeld);
    EXPECT_EQ(0u, status[0].filesWaiting + status[1].filesWaiting);
    EXPECT_EQ(2u, locker.Report().lockedFiles);
    EXPECT_EQ(0u, locker.Report().pendingFiles);
    // Let go under the other names, it is held under this one at once.
    locker.SetItemLocked(Item(), false);
    locker.SetItemLocked(folder / L"a.txt", false);
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().lockedFiles == 1; }));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    locker.SetItemLocked(folder / L"link.txt", false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(path, MAX_PATH + 1);
    return path;
}

TEST_F(FileLockerTest, OddPathsLockNothingAndSayWhy) {
    std::wstring system = SystemFolder() + L"\\*.*";
    ::CharUpperBuffW(&system[0], static_cast<DWORD>(system.size()));
    const std::vector<std::wstring> paths = {L"\\\\.\\PhysicalDrive0",
                                             L"CON",
                                             L"relative\\*.*",
                                             folder / L"sub",
                                             folder / L"missing\\*.*",
                                             L"q:\\nowhere\\*.*",
                                             L"\\\\nohost\\noshare\\*.*",
                                             L"",
                                             system};
    for (const std::wstring& path : paths) locker.SetItemLocked(path, true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(0u, locker.Report().lockedFiles);
    using Refusal = ItemStatus::Refusal;
    using Folder = ItemStatus::Folder;
    const std::vector<ItemStatus> status = locker.StatusOf(ItemsOf(paths));
    for (const ItemStatus& each : status) EXPECT_TRUE(each.locked);
    for (size_t i : {0, 1, 2, 7}) EXPECT_EQ(Refusal::NotAPath, status[i].refusal) << i;
    EXPECT_EQ(Refusal::FolderWithoutPattern, status[3].refusal);
    EXPECT_EQ(Folder::Missing, status[4].folder);
    if (::GetDriveTypeW(L"q:\\") == DRIVE_NO_ROOT_DIR) {
        EXPECT_EQ(Folder::Unreachable, status[5].folder);
    }
    EXPECT_EQ(Folder::Unreachable, status[6].folder);
    // The system's own files stay free, however the folder is written.
    EXPECT_EQ(Refusal::SystemFolder, status[8].refusal);
    EXPECT_EQ(0u, OpenFromOutside(SystemFolder() + L"\\kernel32.dll"));
    // The folder named as if it were a file was not opened.
    EXPECT_TRUE(::MoveFileW((folder / L"sub").c_str(), (folder / L"sub2").c_str()));
    for (const std::wstring& path : paths) locker.SetItemLocked(path, false);
    locker.SetItemLocked(folder / L"never-locked\\*.*", false);
    EXPECT_EQ(0u, locker.Report().items);
    EXPECT_FALSE(locker.StatusOf({paths[0]})[0].locked);
}

TEST_F(FileLockerTest, NothingOfTheWindowsFolderIsLockedThroughALinkOrFromInsideAndNoLinkIsFollowed) {
    const std::wstring system = SystemFolder();
    wchar_t windows[MAX_PATH + 1] = {};
    ASSERT_NE(0u, ::GetWindowsDirectoryW(windows, MAX_PATH + 1));
    ASSERT_TRUE(MakeLink(folder / L"system", system));
    const std::vector<std::wstring> items = {folder / L"system\\*.*", TreeItem(folder / L"system"),
                                             system + L"\\drivers\\*.*", std::wstring(windows) + L"\\Fonts\\*.*"};
    for (const std::wstring& item : items) locker.SetItemLocked(item, true);
    // A tree holding the link, and a second name of a system file, locks its
    // own files only, and counts both links.
    ASSERT_TRUE(::CreateHardLinkW((folder / L"version.dll").c_str(), (system + L"\\version.dll").c_str(), nullptr));
    locker.SetItemLocked(TreeItem(folder.Path()), true);
    ASSERT_TRUE(Settle(locker));
    for (const ItemStatus& status : locker.StatusOf(ItemsOf(items)))
        EXPECT_EQ(ItemStatus::Refusal::SystemFolder, status.refusal);
    EXPECT_EQ(0u, OpenFromOutside(system + L"\\kernel32.dll"));
    EXPECT_EQ(0u, OpenFromOutside(system + L"\\version.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folder / L"sub\\inner.txt"));
    EXPECT_EQ(2u, locker.StatusOf({TreeItem(folder.Path())})[0].linksLeft);
    EXPECT_EQ(3u, locker.Report().lockedFiles);
    locker.SetItemLocked(TreeItem(folder.Path()), false);

    // Unlocked, its folder replaced by a link to System32, locked again.
    const std::wstring sub = folder / L"sub\\*.*";
    locker.SetItemLocked(sub, true);
    ASSERT_TRUE(Settle(locker));
    ASSERT_EQ(1u, locker.Report().lockedFiles);
    locker.SetItemLocked(sub, false);
    // Its pin goes with the lane's next round.
    ASSERT_TRUE(WaitUntil([&] {
        DeleteTree(folder / L"sub");
        return ::GetFileAttributesW((folder / L"sub").c_str()) == INVALID_FILE_ATTRIBUTES;
    }));
    ASSERT_TRUE(MakeLink(folder / L"sub", system));
    locker.SetItemLocked(sub, true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ItemStatus::Refusal::SystemFolder, locker.StatusOf({sub})[0].refusal);
    EXPECT_EQ(0u, locker.Report().lockedFiles);
    EXPECT_EQ(0u, OpenFromOutside(system + L"\\kernel32.dll"));
    EXPECT_TRUE(RemoveLink(folder / L"sub") && RemoveLink(folder / L"system"));
    EXPECT_TRUE(::DeleteFileW((folder / L"version.dll").c_str()));
}

// An open that hangs, as one on a share that stopped answering does. Shared
// with the locker's thread, which may outlive the locker.
struct HangingOpen {
    UniqueHandle entered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> opened{false};
    UniqueHandle thread;  // the locker's thread that runs the open
};

TEST_F(FileLockerTest, OpenThatHangsHoldsUpNeitherItsDriveNorAnyCallNorTheEnd) {
    TempFolder remote(L"hang");
    ASSERT_TRUE(WriteTextFile(remote / L"stuck.txt", "s"));
    ASSERT_TRUE(WriteTextFile(remote / L"free.txt", "f"));
    auto hang = std::make_shared<HangingOpen>();
    auto hanging = std::make_unique<FileLocker>([hang](HANDLE folder, const std::wstring& name) {
        if (name != L"stuck.txt") return OpenFileLocked(folder, name);
        hang->thread.Reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId()));
        ::SetEvent(hang->entered.Get());
        ::WaitForSingleObject(hang->release.Get(), 60000);
        UniqueHandle file = OpenFileLocked(folder, name);
        hang->opened = static_cast<bool>(file);
        return file;
    });
    hanging->SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(*hanging));

    const ULONGLONG start = ::GetTickCount64();
    hanging->SetItemLocked(remote / L"*.*", true);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hang->entered.Get(), 10000));
    const std::vector<ItemStatus> status = hanging->StatusOf({Item(), remote / L"*.*"});
    EXPECT_EQ(2u, status[0].filesHeld);
    EXPECT_TRUE(status[1].locked);
    // Unlock lets go at once; a lock behind the hanging open returns at once.
    hanging->SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
    hanging->SetItemLocked(Item(), true);
    EXPECT_LT(::GetTickCount64() - start, 2000u);
    EXPECT_FALSE(hanging->Settled());

    // Past its deadline the drive's lane goes on without it: the item's
    // other file and the other item on the drive are locked, and it is noted.
    ASSERT_TRUE(Settle(*hanging));
    const std::vector<ItemStatus> after = hanging->StatusOf({Item(), remote / L"*.*"});
    EXPECT_EQ(2u, after[0].filesHeld);
    EXPECT_EQ(1u, after[1].filesHeld);
    EXPECT_EQ(1u, after[1].filesFailed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(remote / L"free.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(folder / L"a.txt"));
    EXPECT_FALSE(hang->opened);

    // Ending the locker leaves the open behind ...
    const ULONGLONG ending = ::GetTickCount64();
    hanging.reset();
    EXPECT_LT(::GetTickCount64() - ending, 2000u);
    EXPECT_FALSE(hang->opened);
    // ... and once it returns, what it opened is closed and its thread ends.
    ::SetEvent(hang->release.Get());
    ASSERT_TRUE(hang->thread);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hang->thread.Get(), 5000));
    EXPECT_TRUE(hang->opened);
    EXPECT_EQ(0u, OpenFromOutside(remote / L"stuck.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
}

TEST_F(FileLockerTest, UnlockDuringAListingStopsItAndLeavesNothingHeld) {
    TempFolder large(L"large");
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(WriteTextFile(large / (std::to_wstring(i) + L".txt"), ""));
    // The 600th open waits until the item is unlocked.
    auto hang = std::make_shared<HangingOpen>();
    auto opens = std::make_shared<std::atomic<int>>(0);
    FileLocker blocking([hang, opens](HANDLE folder, const std::wstring& name) {
        if (++*opens == 600) {
            ::SetEvent(hang->entered.Get());
            ::WaitForSingleObject(hang->release.Get(), 60000);
        }
        return OpenFileLocked(folder, name);
    });
    blocking.SetItemLocked(large / L"*.*", true);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hang->entered.Get(), 10000));
    blocking.SetItemLocked(large / L"*.*", false);
    ::SetEvent(hang->release.Get());
    ASSERT_TRUE(Settle(blocking));
    // No open after the one under way, and nothing of it held.
    EXPECT_EQ(600, opens->load());
    EXPECT_EQ(0u, blocking.Report().lockedFiles);
    for (const wchar_t* name : {L"0.txt", L"599.txt", L"999.txt"}) EXPECT_EQ(0u, OpenFromOutside(large / name));
}

TEST_F(FileLockerTest, ItemsPastTheHandleBudgetAreNotedAndLockedOnceAnUnlockMakesRoom) {
    // Room for 5 handles: this folder's pin and its 2 files, then the other's pin and 1 of its 3.
    FileLocker budgeted(&OpenFileLocked, BudgetOf(5));
    TempFolder other(L"budget");
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"}) ASSERT_TRUE(WriteTextFile(other / name, ""));
    budgeted.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(budgeted));
    budgeted.SetItemLocked(other / L"*.*", true);
    ASSERT_TRUE(Settle(budgeted));
    const ItemStatus status = budgeted.StatusOf({other / L"*.*"})[0];
    EXPECT_EQ(ItemStatus::Folder::Present, status.folder);
    EXPECT_EQ(1u, status.filesHeld);
    EXPECT_EQ(2u, status.filesOverLimit);
    EXPECT_EQ(3u, budgeted.Report().lockedFiles);

    budgeted.SetItemLocked(Item(), false);
    EXPECT_TRUE(WaitUntil([&] {
        const ItemStatus now = budgeted.StatusOf({other / L"*.*"})[0];
        return now.filesHeld == 3 && now.filesOverLimit == 0;
    }));
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"}) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(other / name));
    }
}

TEST_F(FileLockerTest, EachItemKeepsItsShareOfTheBudgetLendsWhatItLeavesAndTakesItBack) {
    // Room for 8 handles and two items listed: a share of 4 each, a pin and 3 files.
    FileLocker budgeted(&OpenFileLocked, BudgetOf(8));
    budgeted.SetItemsKnown(2);
    TempFolder crowded(L"crowded");
    TempFolder other(L"other");
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(WriteTextFile(crowded / (std::to_wstring(i) + L".txt"), ""));
    for (const wchar_t* name : {L"1.txt", L"2.txt"}) ASSERT_TRUE(WriteTextFile(other / name, ""));
    const std::wstring full = crowded / L"*.*";
    const std::wstring mine = other / L"*.*";
    auto heldAndOver = [&](const std::wstring& item) {
        const ItemStatus status = budgeted.StatusOf({item})[0];
        return std::make_pair(status.filesHeld, status.filesOverLimit);
    };
    // Alone, the crowded folder borrows the other's room.
    budgeted.SetItemLocked(full, true);
    ASSERT_TRUE(Settle(budgeted));
    EXPECT_EQ(std::make_pair(std::size_t{7}, std::size_t{3}), heldAndOver(full));
    // The other, locked, takes back what it needs of its share, and so does a new file in it.
    for (int round = 0; round < 2; ++round) {
        budgeted.SetItemLocked(mine, true);
        ASSERT_TRUE(Settle(budgeted));
        EXPECT_EQ(std::make_pair(std::size_t{2}, std::size_t{0}), heldAndOver(mine));
        EXPECT_EQ(std::make_pair(std::size_t{4}, std::size_t{6}), heldAndOver(full));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(other / L"2.txt"));
        budgeted.SetItemLocked(mine, false);
        // Unlocked, its room is lent again.
        EXPECT_TRUE(WaitUntil([&] { return heldAndOver(full).first == 7; }));
    }
    budgeted.SetItemLocked(mine, true);
    ASSERT_TRUE(WriteTextFile(other / L"3.txt", ""));
    EXPECT_TRUE(WaitUntil([&] { return heldAndOver(mine) == std::make_pair(std::size_t{3}, std::size_t{0}); }));
    EXPECT_EQ(std::make_pair(std::size_t{3}, std::size_t{7}), heldAndOver(full));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(other / L"3.txt"));
    EXPECT_EQ(8u, budgeted.Report().lockedFiles + 2);
}

TEST_F(FileLockerTest, AFolderApprovedIsHeldOnlyWhereItIsStillThatFolder) {
    const UniqueHandle opened(::CreateFileW(folder.Path().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(::GetFileInformationByHandle(opened.Get(), &information));
    ApprovedFolder approved;
    approved.fileId = FileIdOf(opened.Get());
    approved.volume = information.dwVolumeSerialNumber;
    TempFolder other(L"swapped-in");
    ASSERT_TRUE(WriteTextFile(other / L"o.txt", ""));
    // Approved as this folder: another one found under the name is not held.
    locker.LockApproved(other / L"*.*", approved);
    locker.LockApproved(Item(), approved);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ItemStatus::Refusal::Redirected, locker.StatusOf({other / L"*.*"})[0].refusal);
    EXPECT_EQ(0u, OpenFromOutside(other / L"o.txt"));
    EXPECT_EQ(ItemStatus::Refusal::None, locker.StatusOf({Item()})[0].refusal);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
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
