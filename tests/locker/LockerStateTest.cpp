// The component's state alone, with the lanes' findings handed in by hand,
// fake file tokens and the clock given.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "locker/LockerState.h"

namespace vaultmere {
namespace {

constexpr std::uint64_t kMinute = 60000;

class LockerStateTest : public ::testing::Test {
protected:
    // The files a lane finds in each folder, by folder key, and the
    // subfolders it lists there.
    struct Finding {
        std::vector<FileOutcome> files;
        std::vector<std::wstring> subfolders;
        std::size_t counted = 0;
    };

    FileOutcome Opened(const std::wstring& name, std::int64_t fileId = 0) {
        FileOutcome outcome;
        outcome.lower = name;
        outcome.file = FileToken(++lastToken);
        outcome.fileId = fileId;
        return outcome;
    }
    static FileOutcome NotOpened(const std::wstring& name, FileError error, std::int64_t fileId = 0) {
        FileOutcome outcome;
        outcome.name = name;
        outcome.lower = name;
        outcome.error = error;
        outcome.fileId = fileId;
        return outcome;
    }
    // Plans every job of the lane and hands each back with what found
    // gives its folder (once), its watch started.
    void Round() {
        std::map<std::wstring, Finding> none;
        Round(none);
    }
    void Round(std::map<std::wstring, Finding>& found) {
        std::vector<FolderJob> jobs = state.Plan(root, now, 64);
        for (FolderJob& job : jobs) {
            job.watching = job.watch;
            Finding& finding = found[job.folderKey];
            for (FileOutcome& outcome : finding.files) job.files.push_back(std::move(outcome));
            finding.files.clear();
            for (const std::wstring& name : finding.subfolders) job.subfolders.push_back({name, name, 0});
            finding.subfolders.clear();
            for (std::size_t i = 0; i < job.count.size(); ++i) job.counted.push_back(finding.counted);
            state.TakeJob(job, now, released);
        }
    }
    ItemStatus StatusOf(const std::wstring& path) { return state.Status({MakeItemKey(path).key})[0]; }
    std::vector<std::uintptr_t> TakeReleased() {
        std::vector<std::uintptr_t> values;
        for (FileToken& token : released) {
            if (token) values.push_back(token.Release());
        }
        released.clear();
        std::sort(values.begin(), values.end());
        return values;
    }
    void Lock(const std::wstring& path) {
        // Locked a while ago: the watches start at once.
        root = state.Lock(MakeItemKey(path), 0);
        ASSERT_EQ(L"\\\\?\\c:\\", root);
    }
    // Lets time pass to the next due work; hands every due file back as
    // failing with error. Returns the ticks at which a file was tried.
    std::vector<std::uint64_t> RunUntil(std::uint64_t end, FileError error) {
        std::vector<std::uint64_t> tries;
        for (;;) {
            const std::uint32_t sleep = state.SleepFor(root, now);
            if (sleep == LockerState::kNoDeadline || now + sleep > end) break;
            now += sleep;
            for (FolderJob& job : state.Plan(root, now, 8)) {
                for (const auto& due : job.due) {
                    tries.push_back(now);
                    job.files.push_back(NotOpened(due.second, error));
                }
                state.TakeJob(job, now, released);
            }
        }
        return tries;
    }
    static std::uint64_t LongestGap(const std::vector<std::uint64_t>& tries, std::uint64_t from, std::uint64_t to) {
        std::uint64_t longest = 0;
        for (std::size_t i = 1; i < tries.size(); ++i) {
            if (tries[i - 1] >= from && tries[i] <= to) longest = std::max(longest, tries[i] - tries[i - 1]);
        }
        return longest;
    }

    LockerState state{BudgetOf(16000)};
    std::wstring root;
    std::uint64_t now = 1000;
    std::uintptr_t lastToken = 100;
    std::vector<FileToken> released;
};

TEST_F(LockerStateTest, FilesHeldForTwoItemsGoFreeWithTheLastItemCoveringThem) {
    Lock(L"C:\\Data\\*.txt");
    Lock(L"C:\\Data\\b.txt");
    std::map<std::wstring, Finding> found;
    found[L"c:\\data"].files.push_back(Opened(L"a.txt"));  // 101
    found[L"c:\\data"].files.push_back(Opened(L"b.txt"));  // 102
    found[L"c:\\data"].files.push_back(Opened(L"c.doc"));  // 103: no item covers it
    found[L"c:\\data"].files.push_back(NotOpened(L"busy.txt", FileError::InUse));
    found[L"c:\\data"].files.push_back(NotOpened(L"gone.txt", FileError::Gone));
    Round(found);
    EXPECT_EQ(std::vector<std::uintptr_t>{103}, TakeReleased());
    const ItemStatus all = StatusOf(L"C:\\Data\\*.txt");
    EXPECT_TRUE(all.locked);
    EXPECT_EQ(2u, all.filesHeld);
    EXPECT_EQ(1u, all.filesWaiting);
    EXPECT_EQ(1u, StatusOf(L"C:\\Data\\b.txt").filesHeld);
    EXPECT_FALSE(StatusOf(L"C:\\Data\\c.doc").locked);
    EXPECT_EQ(2u, state.Report().lockedFiles);
    EXPECT_EQ(1u, state.Report().pendingFiles);

    // b.txt stays held for its own item; the file waiting goes with *.txt.
    const LockerState::Unlocked first = state.Unlock(MakeItemKey(L"C:\\Data\\*.txt").key, released);
    EXPECT_FALSE(first.rootIdle);
    EXPECT_EQ(std::vector<std::uintptr_t>{101}, TakeReleased());
    EXPECT_EQ(0u, state.Report().pendingFiles);
    EXPECT_FALSE(StatusOf(L"C:\\Data\\*.txt").locked);

    const LockerState::Unlocked last = state.Unlock(MakeItemKey(L"C:\\Data\\b.txt").key, released);
    EXPECT_TRUE(last.rootIdle);
    EXPECT_EQ(std::vector<std::uintptr_t>{102}, TakeReleased());
    EXPECT_EQ(std::vector<std::uint64_t>{1}, state.TakeRetired(root));
    EXPECT_EQ(0u, state.Report().folders);
    // Unlocking what is not locked does nothing.
    EXPECT_TRUE(state.Unlock(MakeItemKey(L"C:\\Data\\b.txt").key, released).root.empty());
}

TEST_F(LockerStateTest, FileHeldElsewhereIsTriedLessOftenTheLongerItWaits) {
    Lock(L"C:\\Data\\*.*");
    std::map<std::wstring, Finding> found;
    found[L"c:\\data"].files.push_back(NotOpened(L"busy.txt", FileError::InUse));
    Round(found);
    Round();  // the watch
    const std::uint64_t start = now;
    EXPECT_EQ(1u, StatusOf(L"C:\\Data\\*.*").filesWaiting);

    std::vector<std::uint64_t> tries = RunUntil(start + 30 * kMinute, FileError::InUse);
    ASSERT_FALSE(tries.empty());
    EXPECT_LE(tries.front() - start, 100u);
    // At most a second apart in the first minute, half a minute until the
    // tenth, two minutes after: a file let go is locked within two minutes.
    EXPECT_LE(LongestGap(tries, start, start + kMinute), 1000u);
    EXPECT_LE(LongestGap(tries, start, start + 10 * kMinute), 30000u);
    EXPECT_EQ(120000u, LongestGap(tries, start, start + 30 * kMinute));
    const auto late = std::count_if(tries.begin(), tries.end(),
                                    [&](std::uint64_t at) { return at > start + 11 * kMinute; });
    EXPECT_LE(late, 10);
    EXPECT_GE(late, 9);

    // A write to it, as its holder closes it, brings the next try forward.
    std::vector<FolderChange> changes{{ChangeAction::Modified, L"busy.txt", L"busy.txt"}};
    now = tries.back() + 1000;
    state.TakeChanges(L"c:\\data", 1, changes, now);
    EXPECT_EQ(0u, state.SleepFor(root, now));
}

TEST_F(LockerStateTest, FileThisAccountMayNotReadIsNotedAndTriedSlowly) {
    Lock(L"C:\\Data\\*.*");
    // Files known by id: in a case-sensitive folder (Windows only) a.txt and
    // A.txt, the second again while held; a hard link naming a.txt again.
    std::map<std::wstring, Finding> found;
    std::vector<FileOutcome>& files = found[L"c:\\data"].files;
    files.push_back(NotOpened(L"secret.doc", FileError::Denied));
    files.push_back(NotOpened(L"odd.bin", FileError::Other));
    files.push_back(Opened(L"a.txt", 7));
    files.push_back(Opened(L"a.txt", 8));
    Round(found);
    found[L"c:\\data"].files.push_back(NotOpened(L"a.txt", FileError::InUse, 8));
    found[L"c:\\data"].files.push_back(NotOpened(L"link.txt", FileError::InUse, 7));
    Round(found);
    const ItemStatus status = StatusOf(L"C:\\Data\\*.*");
    EXPECT_EQ(3u, status.filesHeld);
    EXPECT_EQ(2u, state.Report().lockedFiles);
    EXPECT_EQ(0u, status.filesWaiting);
    EXPECT_EQ(1u, status.filesDenied);
    EXPECT_EQ(1u, status.filesFailed);
    const std::uint64_t start = now;
    const std::vector<std::uint64_t> tries = RunUntil(start + 5 * kMinute, FileError::Denied);
    ASSERT_FALSE(tries.empty());
    EXPECT_GE(tries.front() - start, 30000u);

    EXPECT_TRUE(state.Unlock(MakeItemKey(L"C:\\Data\\*.*").key, released).rootIdle);
    EXPECT_EQ((std::vector<std::uintptr_t>{101, 102}), TakeReleased());
    EXPECT_EQ(0u, state.Report().items);
}

TEST_F(LockerStateTest, TreeOverItsLimitHoldsWhatFitsAndCountsWhatItLeftOpen) {
    state = LockerState(LockBudget{100, 3});
    Lock(TreeItem(L"C:\\Top"));
    const std::wstring item = TreeItem(L"C:\\Top");
    // Two files and a subfolder fill it; the second subfolder is turned away.
    std::map<std::wstring, Finding> found;
    found[L"c:\\top"].files.push_back(Opened(L"f1.txt"));  // 101
    found[L"c:\\top"].files.push_back(Opened(L"f2.txt"));  // 102
    found[L"c:\\top"].subfolders = {L"s1", L"s2"};
    Round(found);
    EXPECT_EQ(2u, StatusOf(item).filesHeld);
    EXPECT_EQ(1u, StatusOf(item).filesOverLimit);  // s2, not counted yet
    EXPECT_EQ(2u, state.Report().folders);
    // s2 is counted with the four entries beneath it; s1's file has no room.
    found[L"c:\\top"].counted = 4;
    found[L"c:\\top\\s1"].files.push_back(Opened(L"x.txt"));  // 103
    Round(found);
    EXPECT_EQ(std::vector<std::uintptr_t>{103}, TakeReleased());
    EXPECT_EQ(2u, StatusOf(item).filesHeld);
    EXPECT_EQ(6u, StatusOf(item).filesOverLimit);

    state.Unlock(MakeItemKey(item).key, released);
    EXPECT_EQ((std::vector<std::uintptr_t>{101, 102}), TakeReleased());
    EXPECT_EQ(0u, state.Report().folders);
    EXPECT_EQ(2u, state.TakeRetired(root).size());
}

TEST_F(LockerStateTest, RoomLentToOneItemIsTakenBackLatestFirstWhenAnotherNeedsItsShare) {
    // Ten handles, two items: a share of five each, one of them the pin.
    state = LockerState(LockBudget{10, 9});
    state.SetItemsKnown(2);
    Lock(L"C:\\A\\*.*");
    Lock(L"C:\\B\\*.*");
    std::map<std::wstring, Finding> found;
    for (int i = 0; i < 8; ++i) found[L"c:\\a"].files.push_back(Opened(L"a" + std::to_wstring(i)));  // 101..108
    Round(found);
    EXPECT_EQ(8u, StatusOf(L"C:\\A\\*.*").filesHeld);
    for (int i = 0; i < 5; ++i) found[L"c:\\b"].files.push_back(Opened(L"b" + std::to_wstring(i)));  // 109..113
    Round(found);
    // A gives back the four over its share, its latest; B is one short of five.
    EXPECT_EQ((std::vector<std::uintptr_t>{105, 106, 107, 108, 113}), TakeReleased());
    EXPECT_EQ(4u, StatusOf(L"C:\\A\\*.*").filesHeld);
    EXPECT_EQ(4u, StatusOf(L"C:\\A\\*.*").filesOverLimit);
    EXPECT_EQ(4u, StatusOf(L"C:\\B\\*.*").filesHeld);
    EXPECT_EQ(1u, StatusOf(L"C:\\B\\*.*").filesOverLimit);

    // B gone: A's files turned away are listed again.
    const LockerState::Unlocked unlocked = state.Unlock(MakeItemKey(L"C:\\B\\*.*").key, released);
    EXPECT_EQ(std::vector<std::wstring>{root}, unlocked.retryRoots);
    EXPECT_EQ((std::vector<std::uintptr_t>{109, 110, 111, 112}), TakeReleased());
    const std::vector<FolderJob> jobs = state.Plan(root, now, 8);
    ASSERT_EQ(1u, jobs.size());
    EXPECT_TRUE(jobs[0].scan);
    EXPECT_EQ(4u, jobs[0].known.size());
    state.ReleaseAll(released);
    EXPECT_EQ((std::vector<std::uintptr_t>{101, 102, 103, 104}), TakeReleased());
    EXPECT_EQ(0u, state.Report().lockedFiles);
}

TEST_F(LockerStateTest, ValuesThatAreNoPathLockNothing) {
    EXPECT_EQ(L"", state.Lock(MakeItemKey(L"data\\*.*"), now));
    EXPECT_EQ(ItemStatus::Refusal::NotAPath, state.Status({L"data\\*.*"})[0].refusal);
    EXPECT_EQ(0u, state.Report().folders);
}

}  // namespace
}  // namespace vaultmere
