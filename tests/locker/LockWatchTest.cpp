// Locks that keep up with the folder: files that appear later, files busy
// at lock time, the folder itself, folders that appear later, and everything
// given back on unlock. Other programs are real processes: outsider.exe
// checks whether a file opens, holder.exe keeps a file open.
#include <gtest/gtest.h>

#include <string>

#include "common/TextCase.h"
#include "locker/FileLocker.h"
#include "locker/HandleTokens.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace vaultmere {
namespace {

// Another program with a file open; ended (letting the file go) on request
// or at the end of the test.
class Holder {
public:
    explicit Holder(const std::wstring& path)
        : process_(StartProcess(BinaryFolder() + L"\\holder.exe", L"\"" + path + L"\"")) {}
    ~Holder() { LetGo(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    void LetGo() {
        if (!process_) return;
        ::TerminateProcess(process_.Get(), 0);
        ::WaitForSingleObject(process_.Get(), 30000);
        process_.Reset();
    }

private:
    UniqueHandle process_;
};

bool WriteHiddenFile(const std::wstring& path) {
    UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    return static_cast<bool>(file);
}

bool LockedHere(const std::wstring& path) { return OpenHere(path) == ERROR_SHARING_VIOLATION; }

class LockWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteTextFile(folder / L"a.txt", "a"));
        ASSERT_TRUE(WriteTextFile(folder / L"b.dat", "b"));
    }
    std::wstring Item(const std::wstring& pattern = L"*.*") const { return folder / pattern; }

    TempFolder folder{L"watch"};
    TempFolder elsewhere{L"elsewhere"};
    FileLocker locker;
};

TEST_F(LockWatchTest, NewAndMovedInFilesAreLockedHiddenOnesAndFoldersLeftAlone) {
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    ASSERT_TRUE(WriteTextFile(folder / L"new.txt", "n"));
    ASSERT_TRUE(WriteHiddenFile(folder / L"hidden-new.txt"));
    ASSERT_TRUE(MakeFolder(folder / L"newsub"));
    ASSERT_TRUE(WriteTextFile(elsewhere / L"moved.txt", "m"));
    ASSERT_TRUE(::MoveFileW((elsewhere / L"moved.txt").c_str(), (folder / L"moved.txt").c_str()));
    ASSERT_TRUE(WriteTextFile(folder / L"last.txt", "l"));

    EXPECT_TRUE(WaitUntil([&] {
        return LockedHere(folder / L"new.txt") && LockedHere(folder / L"moved.txt") && LockedHere(folder / L"last.txt");
    }));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"new.txt"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"moved.txt"));
    // Changes are taken in order, so the hidden file and the subfolder were
    // looked at before last.txt was locked.
    EXPECT_EQ(0u, OpenFromOutside(folder / L"hidden-new.txt"));
    EXPECT_TRUE(::MoveFileW((folder / L"newsub").c_str(), (folder / L"newsub2").c_str()));
    EXPECT_EQ(5u, locker.Report().lockedFiles);
    EXPECT_EQ(0u, locker.Report().pendingFiles);
    // A held file another program hides is let go.
    ASSERT_TRUE(::SetFileAttributesW((folder / L"last.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(WaitUntil([&] { return !LockedHere(folder / L"last.txt"); }));
    EXPECT_EQ(4u, locker.Report().lockedFiles);

    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"new.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"moved.txt"));
    EXPECT_EQ(0u, locker.Report().items);
}

TEST_F(LockWatchTest, FileOpenInAnotherProgramAtLockTimeIsLockedOnceLetGo) {
    Holder holder(folder / L"a.txt");
    // The other program's start under Wine may take seconds on a loaded machine.
    ASSERT_TRUE(WaitUntil([&] { return LockedHere(folder / L"a.txt"); }, 20000));
    locker.SetItemLocked(Item(), true);
    locker.SetItemLocked(Item(L"b.dat"), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().lockedFiles);
    EXPECT_EQ(1u, locker.Report().pendingFiles);
    // Per item, in any case, with a path that is not locked at all.
    std::vector<ItemStatus> status = locker.StatusOf({Item(L"*.TXT"), Item(L"B.DAT"), Item(L"*.*"), L""});
    ASSERT_EQ(4u, status.size());
    EXPECT_FALSE(status[0].locked);
    EXPECT_TRUE(status[1].locked);
    EXPECT_EQ(1u, status[1].filesHeld);
    EXPECT_EQ(0u, status[1].filesWaiting);
    EXPECT_TRUE(status[2].locked);
    EXPECT_EQ(1u, status[2].filesHeld);
    EXPECT_EQ(1u, status[2].filesWaiting);
    EXPECT_EQ(ItemStatus::Folder::Present, status[2].folder);
    EXPECT_FALSE(status[3].locked);

    holder.LetGo();
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().lockedFiles == 2; }));
    EXPECT_EQ(0u, locker.Report().pendingFiles);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    status = locker.StatusOf({Item()});
    EXPECT_EQ(2u, status[0].filesHeld);
    EXPECT_EQ(0u, status[0].filesWaiting);
    locker.SetItemLocked(Item(L"b.dat"), false);

    // Unlock releases the file taken late as well as the others.
    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(folder / L"b.dat"));
}

TEST_F(LockWatchTest, FileAnotherProgramIsWritingIsLockedWhenItCloses) {
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    Holder writer(folder / L"download.bin");
    // Seen, but busy: it waits for a retry instead of being given up.
    ASSERT_TRUE(WaitUntil([&] { return locker.Report().pendingFiles == 1; }));
    writer.LetGo();
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().lockedFiles == 3; }));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"download.bin"));
    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"download.bin"));
}

TEST_F(LockWatchTest, FolderIsPinnedButStaysListableAndWritable) {
    const std::wstring empty = folder / L"empty";
    const std::wstring hiddenOnly = folder / L"hidden-only";
    ASSERT_TRUE(MakeFolder(empty));
    ASSERT_TRUE(MakeFolder(hiddenOnly));
    ASSERT_TRUE(WriteHiddenFile(hiddenOnly + L"\\h.txt"));
    locker.SetItemLocked(empty + L"\\*.*", true);
    locker.SetItemLocked(hiddenOnly + L"\\*.*", true);
    ASSERT_TRUE(Settle(locker));
    // Pinned at once; watched as soon as the lock calls pause.
    EXPECT_EQ(2u, locker.Report().folders);
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().watchedFolders == 2; }));

    EXPECT_FALSE(::RemoveDirectoryW(empty.c_str()));
    EXPECT_FALSE(::MoveFileW(empty.c_str(), (folder / L"renamed").c_str()));
    EXPECT_FALSE(::MoveFileW(hiddenOnly.c_str(), (folder / L"renamed").c_str()));
    // Others can still list the folder and work with its hidden files.
    WIN32_FIND_DATAW found;
    UniqueFindHandle listing(::FindFirstFileW((hiddenOnly + L"\\*").c_str(), &found));
    EXPECT_TRUE(listing);
    listing.Reset();
    EXPECT_EQ(0u, OpenFromOutside(hiddenOnly + L"\\h.txt"));
    EXPECT_TRUE(::DeleteFileW((hiddenOnly + L"\\h.txt").c_str()));

    locker.SetItemLocked(empty + L"\\*.*", false);
    locker.SetItemLocked(hiddenOnly + L"\\*.*", false);
    // The pins go with the watches, on the locker's own thread.
    EXPECT_TRUE(WaitUntil([&] { return ::MoveFileW(empty.c_str(), (folder / L"renamed").c_str()) != FALSE; }));
    EXPECT_TRUE(WaitUntil([&] { return ::RemoveDirectoryW(hiddenOnly.c_str()) != FALSE; }));
}

TEST_F(LockWatchTest, FolderMissingAtLockTimeIsLockedWhenItAppears) {
    const std::wstring later = folder / L"later";
    locker.SetItemLocked(later + L"\\*.*", true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(1u, locker.Report().items);
    EXPECT_EQ(0u, locker.Report().watchedFolders);
    EXPECT_EQ(ItemStatus::Folder::Missing, locker.StatusOf({later + L"\\*.*"})[0].folder);
    // A drive that is not there at all is not reachable, not merely missing.
    const std::wstring nowhere = L"q:\\nowhere\\*.*";
    if (::GetDriveTypeW(L"q:\\") == DRIVE_NO_ROOT_DIR) {
        locker.SetItemLocked(nowhere, true);
        EXPECT_TRUE(WaitUntil([&] { return locker.StatusOf({nowhere})[0].folder == ItemStatus::Folder::Unreachable; }));
        EXPECT_EQ(ItemStatus::Folder::Missing, locker.StatusOf({later + L"\\*.*"})[0].folder);
        locker.SetItemLocked(nowhere, false);
    }

    ASSERT_TRUE(MakeFolder(later));
    ASSERT_TRUE(WriteTextFile(later + L"\\early.txt", "e"));
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().watchedFolders == 1 && LockedHere(later + L"\\early.txt"); }));
    EXPECT_EQ(ItemStatus::Folder::Present, locker.StatusOf({later + L"\\*.*"})[0].folder);
    ASSERT_TRUE(WriteTextFile(later + L"\\next.txt", "n"));
    EXPECT_TRUE(WaitUntil([&] { return LockedHere(later + L"\\next.txt"); }));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(later + L"\\early.txt"));
    EXPECT_FALSE(::MoveFileW(later.c_str(), (folder / L"moved").c_str()));

    locker.SetItemLocked(later + L"\\*.*", false);
    EXPECT_EQ(0u, OpenFromOutside(later + L"\\next.txt"));
    EXPECT_TRUE(WaitUntil([&] { return ::MoveFileW(later.c_str(), (folder / L"moved").c_str()) != FALSE; }));
}

TEST_F(LockWatchTest, FolderUnderSeveralItemsStaysLockedUntilTheLastUnlock) {
    // The same folder added twice, once in other case, and a narrower item.
    std::wstring upper = Item();
    ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    locker.SetItemLocked(Item(), true);
    locker.SetItemLocked(upper, true);
    locker.SetItemLocked(Item(L"*.txt"), true);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(2u, locker.Report().items);
    EXPECT_EQ(1u, locker.Report().folders);
    EXPECT_EQ(2u, locker.Report().lockedFiles);
    ASSERT_TRUE(WriteTextFile(folder / L"n.dat", "n"));
    EXPECT_TRUE(WaitUntil([&] { return LockedHere(folder / L"n.dat"); }));

    locker.SetItemLocked(Item(), false);
    EXPECT_TRUE(LockedHere(folder / L"b.dat"));
    EXPECT_TRUE(LockedHere(folder / L"n.dat"));

    // Only *.txt is left: the other files go free, the folder stays pinned
    // and new text files are still taken.
    locker.SetItemLocked(upper, false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"b.dat"));
    EXPECT_EQ(0u, OpenHere(folder / L"n.dat"));
    EXPECT_TRUE(LockedHere(folder / L"a.txt"));
    ASSERT_TRUE(WriteTextFile(folder / L"m.dat", "m"));
    ASSERT_TRUE(WriteTextFile(folder / L"m.txt", "m"));
    EXPECT_TRUE(WaitUntil([&] { return LockedHere(folder / L"m.txt"); }));
    EXPECT_EQ(0u, OpenHere(folder / L"m.dat"));
    EXPECT_FALSE(::MoveFileW(folder.Path().c_str(), (folder.Path() + L"-moved").c_str()));

    locker.SetItemLocked(Item(L"*.txt"), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenHere(folder / L"m.txt"));
    EXPECT_EQ(0u, locker.Report().folders);
}

TEST_F(LockWatchTest, BurstOfNewFilesOverflowingTheWatchIsLockedInFull) {
    // While the lane opens a file elsewhere, a burst of long names is more
    // than a watch read can carry.
    const std::wstring other = elsewhere / L"other";
    ASSERT_TRUE(MakeFolder(other) && WriteTextFile(other + L"\\slow.txt", ""));
    UniqueHandle opening(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle burstDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    FileLocker slow([&](HANDLE from, const std::wstring& name) {
        if (name == L"slow.txt") {
            ::SetEvent(opening.Get());
            ::WaitForSingleObject(burstDone.Get(), 1500);
        }
        return OpenFileLocked(from, name);
    });
    slow.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(slow));
    ASSERT_TRUE(WaitUntil([&] { return slow.Report().watchedFolders == 1; }));

    const std::wstring padding(120, L'x');
    constexpr size_t kFiles = 400;
    slow.SetItemLocked(other + L"\\*.*", true);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(opening.Get(), 10000));
    for (size_t i = 0; i < kFiles; ++i) WriteTextFile(folder / (std::to_wstring(i) + padding + L".txt"), "");
    ::SetEvent(burstDone.Get());

    EXPECT_TRUE(WaitUntil([&] { return slow.Report().lockedFiles == kFiles + 3; }, 60000, 50));
    EXPECT_EQ(0u, slow.Report().pendingFiles);
    EXPECT_GT(slow.Report().watchOverflows, 0u);
    EXPECT_TRUE(LockedHere(folder / (L"0" + padding + L".txt")));
    EXPECT_TRUE(LockedHere(folder / (std::to_wstring(kFiles - 1) + padding + L".txt")));
    slow.SetItemLocked(Item(), false);
    slow.SetItemLocked(other + L"\\*.*", false);
    EXPECT_EQ(0u, OpenHere(folder / (L"0" + padding + L".txt")));
}

TEST_F(LockWatchTest, HandlesAndThreadsReturnAfterUnlockingEveryItem) {
    const std::wstring missing = folder / L"missing";
    const std::wstring items[] = {Item(), Item(L"*.txt"), folder / L"b.dat", missing + L"\\*.*",
                                  L"q:\\no-such-drive\\*.*"};
    UniqueHandle busy(
        ::CreateFileW((folder / L"busy.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(busy);
    // Once through first, so that what the system sets up on first use is
    // not counted; the locker's thread ends on its own after the unlocks.
    const size_t threads = ProcessThreadCount();
    for (const std::wstring& item : items) locker.SetItemLocked(item, true);
    ASSERT_TRUE(Settle(locker));
    for (const std::wstring& item : items) locker.SetItemLocked(item, false);
    ASSERT_TRUE(WaitUntil([&] { return ProcessThreadCount() == threads; }));
    const size_t handles = ProcessHandleCount();
    ASSERT_GT(handles, 0u);
    ASSERT_GT(threads, 0u);

    for (const std::wstring& item : items) locker.SetItemLocked(item, true);
    locker.SetItemLocked(Item(), true);
    ASSERT_TRUE(Settle(locker));
    ASSERT_TRUE(MakeFolder(missing));
    ASSERT_TRUE(WriteTextFile(folder / L"new.txt", "n"));
    EXPECT_TRUE(WaitUntil([&] { return locker.Report().watchedFolders == 2 && locker.Report().lockedFiles == 3; }));
    EXPECT_EQ(1u, locker.Report().pendingFiles);
    EXPECT_GT(ProcessHandleCount(), handles + 4);
    EXPECT_GT(ProcessThreadCount(), threads);

    locker.SetItemLocked(Item(), false);
    for (const std::wstring& item : items) locker.SetItemLocked(item, false);
    const LockerReport report = locker.Report();
    EXPECT_EQ(0u, report.items + report.lockedFiles + report.pendingFiles + report.folders);
    EXPECT_TRUE(WaitUntil([&] { return ProcessHandleCount() == handles && ProcessThreadCount() == threads; }))
        << ProcessHandleCount() << " handles for " << handles << ", " << ProcessThreadCount() << " threads for "
        << threads;
}

TEST_F(LockWatchTest, EndingTheLockerWithItemsStillLockedGivesEverythingBack) {
    UniqueHandle busy(
        ::CreateFileW((folder / L"busy.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(busy);
    {
        FileLocker warmUp;
        warmUp.SetItemLocked(Item(), true);
        ASSERT_TRUE(Settle(warmUp));
    }
    const size_t handles = ProcessHandleCount();
    const size_t threads = ProcessThreadCount();
    {
        FileLocker ending;
        ending.SetItemLocked(Item(), true);
        ending.SetItemLocked(folder / L"gone\\*.*", true);
        ASSERT_TRUE(Settle(ending));
        EXPECT_EQ(1u, ending.Report().pendingFiles);
        EXPECT_TRUE(LockedHere(folder / L"a.txt"));
    }
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
    EXPECT_TRUE(::MoveFileW(folder.Path().c_str(), (folder.Path() + L"-moved").c_str()));
    EXPECT_TRUE(::MoveFileW((folder.Path() + L"-moved").c_str(), folder.Path().c_str()));
    EXPECT_TRUE(WaitUntil([&] { return ProcessHandleCount() == handles && ProcessThreadCount() == threads; }))
        << ProcessHandleCount() << " handles for " << handles << ", " << ProcessThreadCount() << " threads for "
        << threads;
}

// A folder locked with everything beneath it, next to a plain folder item on
// the same folder.
TEST_F(LockWatchTest, TreeLocksEveryLevelPinsItsSubfoldersAndTakesWhatAppearsLater) {
    const std::wstring one = folder / L"One";
    const std::wstring deep = one + L"\\two\\three";
    const std::wstring hiddenFolder = one + L"\\.cache";
    for (const std::wstring& each : {one, one + L"\\two", deep, folder / L"empty", hiddenFolder}) {
        ASSERT_TRUE(MakeFolder(each));
    }
    ::SetFileAttributesW(hiddenFolder.c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(WriteTextFile(one + L"\\x.txt", "x"));
    ASSERT_TRUE(WriteTextFile(deep + L"\\deep.txt", "d"));
    ASSERT_TRUE(WriteTextFile(hiddenFolder + L"\\in-hidden.txt", "c"));
    ASSERT_TRUE(WriteHiddenFile(one + L"\\hidden.txt"));
    const std::wstring tree = TreeItem(folder.Path());
    locker.SetItemLocked(Item(), true);
    locker.SetItemLocked(tree, true);
    ASSERT_TRUE(Settle(locker));
    ASSERT_TRUE(WaitUntil([&] { return locker.Report().watchedFolders == 5; }));

    for (const std::wstring& file : {folder / L"a.txt", one + L"\\x.txt", deep + L"\\deep.txt"}) {
        EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(file)) << file;
    }
    EXPECT_EQ(0u, OpenFromOutside(one + L"\\hidden.txt"));
    EXPECT_EQ(0u, OpenFromOutside(hiddenFolder + L"\\in-hidden.txt"));
    // Subfolders stay where they are, empty or not; a hidden one is left alone.
    EXPECT_FALSE(::MoveFileW((one + L"\\two").c_str(), (one + L"\\moved").c_str()));
    EXPECT_FALSE(::MoveFileW(deep.c_str(), (folder / L"three").c_str()));
    EXPECT_FALSE(::RemoveDirectoryW((folder / L"empty").c_str()));
    EXPECT_TRUE(::MoveFileW(hiddenFolder.c_str(), (one + L"\\.cache2").c_str()));
    ItemStatus status = locker.StatusOf({tree})[0];
    EXPECT_EQ(4u, status.filesHeld);
    EXPECT_EQ(ItemStatus::Folder::Present, status.folder);

    // A new file in a new subfolder, one five folders down made at once, and
    // a folder moved in whole with a subfolder of its own.
    ASSERT_TRUE(MakeFolder(deep + L"\\new"));
    ASSERT_TRUE(WriteTextFile(deep + L"\\new\\fresh.txt", "f"));
    std::wstring fifth = folder.Path();
    for (const wchar_t* level : {L"\\l1", L"\\l2", L"\\l3", L"\\l4", L"\\l5"}) ASSERT_TRUE(MakeFolder(fifth += level));
    ASSERT_TRUE(WriteTextFile(fifth + L"\\five-down.txt", "5"));
    ASSERT_TRUE(MakeFolder(elsewhere / L"pack") && MakeFolder(elsewhere / L"pack\\inner"));
    ASSERT_TRUE(WriteTextFile(elsewhere / L"pack\\inner\\packed.txt", "p"));
    ASSERT_TRUE(::MoveFileW((elsewhere / L"pack").c_str(), (one + L"\\pack").c_str()));
    for (const std::wstring& file :
         {deep + L"\\new\\fresh.txt", fifth + L"\\five-down.txt", one + L"\\pack\\inner\\packed.txt"}) {
        EXPECT_TRUE(WaitUntil([&] { return LockedHere(file); })) << file;
    }
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(fifth + L"\\five-down.txt"));
    EXPECT_EQ(7u, locker.StatusOf({tree})[0].filesHeld);

    // Unlocking the tree leaves the plain item's files locked, and the rest free.
    locker.SetItemLocked(tree, false);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(deep + L"\\deep.txt"));
    EXPECT_EQ(0u, OpenFromOutside(fifth + L"\\five-down.txt"));
    EXPECT_TRUE(WaitUntil([&] { return ::MoveFileW((one + L"\\two").c_str(), (one + L"\\moved").c_str()) != FALSE; }));
    EXPECT_EQ(1u, locker.Report().folders);
    locker.SetItemLocked(Item(), false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
}

TEST_F(LockWatchTest, TreeStoredFormLocksNothingReadAsAPlainFolderItem) {
    ASSERT_TRUE(MakeFolder(folder / L"sub"));
    ASSERT_TRUE(WriteTextFile(folder / L"sub\\s.txt", "s"));
    // Read as a plain folder item, the form names a folder "**", which no
    // folder can be named: the files of a folder named so are what it covers.
    const std::wstring stored = LowerCase(TreeItem(folder.Path()));
    ItemKey plain;
    plain.target = ParseItemPath(stored);
    ASSERT_EQ(ItemTarget::Kind::Pattern, plain.target.kind);
    ASSERT_EQ(LowerCase(folder.Path()) + L"\\**", plain.target.folder);
    plain.folder = plain.target.folder;
    plain.name = plain.target.name;
    plain.key = stored;
    EXPECT_FALSE(MakeFolder(plain.target.folder));

    LockerState state(PlatformLockBudget());
    ReleasedFiles released;
    const std::wstring root = state.Lock(plain, 0);
    UniqueHandle port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    std::atomic<bool> stop{false};
    {
        const LockRule rule;
        FolderLane lane(port.Get(), &OpenFileLocked, rule, stop);
        // Listed, then watched.
        for (ULONGLONG now : {ULONGLONG{0}, ULONGLONG{1000}}) {
            std::vector<FolderJob> jobs = state.Plan(root, now, 8);
            lane.Do(jobs, [](FolderJob&) { return true; });
            for (FolderJob& job : jobs) state.TakeJob(job, now, released.tokens);
        }
        EXPECT_EQ(0u, state.Report().lockedFiles);
        EXPECT_EQ(0u, state.Report().watchedFolders);
        EXPECT_NE(ItemStatus::Folder::Present, state.Status({stored})[0].folder);
        EXPECT_EQ(0u, OpenFromOutside(folder / L"a.txt"));
        EXPECT_EQ(0u, OpenFromOutside(folder / L"sub\\s.txt"));
    }
}

TEST_F(LockWatchTest, ChangeReportedUnderAShortNameIsMatchedToItsFile) {
    // Windows reports a change under the name a program used, perhaps the
    // short one; Wine under the long one, so it is handed in here by hand.
    const std::wstring longName = folder / L"a-long-file-name.txt";
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_TRUE(WriteTextFile(longName, "l") && ::GetShortPathNameW(longName.c_str(), shortPath, MAX_PATH));
    const std::wstring shortName = std::wcsrchr(shortPath, L'\\') + 1;
    UniqueHandle busy(::CreateFileW(longName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LockerState state(PlatformLockBudget());
    ReleasedFiles released;
    const ItemKey item = MakeItemKey(Item());
    const std::wstring root = state.Lock(item, 0);
    std::atomic<bool> stop{false};
    const LockRule rule;
    FolderLane lane(nullptr, &OpenFileLocked, rule, stop);  // not watching: no port
    for (int round = 0; round < 3; ++round) {
        // Listed with the file in use; told it was written to as it closed; told again.
        if (round == 1) busy.Reset();
        std::vector<FolderChange> changes{{ChangeAction::Modified, shortName, LowerCase(shortName)}};
        if (round > 0) {
            EXPECT_TRUE(state.TakeChanges(item.folder, 1, changes, 1));
        }
        std::vector<FolderJob> jobs = state.Plan(root, 1, 8);
        lane.Do(jobs, [](FolderJob&) { return true; });
        for (FolderJob& job : jobs) state.TakeJob(job, 1, released.tokens);
        EXPECT_EQ(round == 0 ? 1u : 0u, state.Status({item.key})[0].filesWaiting);
    }
    EXPECT_EQ(3u, state.Status({item.key})[0].filesHeld);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(longName));
}

TEST_F(LockWatchTest, TreeHoldsNoMoreThanItsLimitAndNotesWhatItLeftOpen) {
    // A limit of 6 entries: a.txt, b.dat, the subfolder and its three files.
    FileLocker limited(&OpenFileLocked, LockBudget{kWineLockedFiles, 6});
    ASSERT_TRUE(MakeFolder(folder / L"sub"));
    for (const wchar_t* name : {L"sub\\1.txt", L"sub\\2.txt", L"sub\\3.txt"})
        ASSERT_TRUE(WriteTextFile(folder / name, ""));
    const std::wstring tree = TreeItem(folder.Path());
    limited.SetItemLocked(tree, true);
    ASSERT_TRUE(Settle(limited));
    ItemStatus status = limited.StatusOf({tree})[0];
    EXPECT_EQ(5u, status.filesHeld);
    EXPECT_EQ(0u, status.filesOverLimit);

    // Later arrivals past the limit stay open and are counted, a subfolder with what it holds.
    ASSERT_TRUE(WriteTextFile(folder / L"sub\\4.txt", ""));
    ASSERT_TRUE(MakeFolder(elsewhere / L"more") && MakeFolder(elsewhere / L"more\\deep"));
    ASSERT_TRUE(WriteTextFile(elsewhere / L"more\\m.txt", "") && WriteTextFile(elsewhere / L"more\\deep\\d.txt", ""));
    ASSERT_TRUE(::MoveFileW((elsewhere / L"more").c_str(), (folder / L"more").c_str()));
    ASSERT_TRUE(WriteTextFile(folder / L"late.txt", ""));
    EXPECT_TRUE(WaitUntil([&] { return limited.StatusOf({tree})[0].filesOverLimit == 6; }));
    // Opened to be looked at, they are let go just after they are counted.
    EXPECT_TRUE(WaitUntil(
        [&] { return OpenFromOutside(folder / L"late.txt") == 0 && OpenFromOutside(folder / L"sub\\4.txt") == 0; }));
    EXPECT_TRUE(::MoveFileW((folder / L"more").c_str(), (folder / L"more2").c_str()));
    EXPECT_TRUE(WaitUntil([&] { return limited.StatusOf({tree})[0].filesOverLimit == 6; }));
    EXPECT_EQ(5u, limited.StatusOf({tree})[0].filesHeld);
    // A folder of its own inside the full tree is locked all the same.
    limited.SetItemLocked(folder / L"more2\\*.*", true);
    ASSERT_TRUE(Settle(limited));
    EXPECT_EQ(1u, limited.StatusOf({folder / L"more2\\*.*"})[0].filesHeld);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, OpenFromOutside(folder / L"more2\\m.txt"));
    limited.SetItemLocked(folder / L"more2\\*.*", false);
    ASSERT_TRUE(WaitUntil([&] { return limited.StatusOf({tree})[0].filesOverLimit == 6; }));
    // A held file gone from the host's side makes room, taken by what waited.
    ASSERT_TRUE(RemoveLink(folder / L"sub\\1.txt"));
    EXPECT_TRUE(WaitUntil([&] { return limited.StatusOf({tree})[0].filesOverLimit == 5; }));
    limited.SetItemLocked(tree, false);
    EXPECT_EQ(0u, OpenFromOutside(folder / L"sub\\2.txt"));
    EXPECT_EQ(0u, limited.Report().folders);
}

}  // namespace
}  // namespace vaultmere
