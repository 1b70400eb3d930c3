// The component's state alone, with the lane's findings handed in by hand
// and the clock given: how often a file held elsewhere is tried again.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "locker/FolderLane.h"
#include "locker/LockerState.h"

namespace vaultmere {
namespace {

constexpr ULONGLONG kMinute = 60000;

class LockerStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = state.Lock(MakeItemKey(L"C:\\Data\\*.*"), 0);
        ASSERT_EQ(L"\\\\?\\c:\\", root);
        // Listed, then watched.
        for (int round = 0; round < 2; ++round) {
            std::vector<FolderJob> jobs = state.Plan(root, now, 8);
            ASSERT_EQ(1u, jobs.size());
            jobs[0].watching = jobs[0].watch;
            state.TakeJob(jobs[0], now, released);
        }
    }
    // Lets time pass to the next due work; hands every due file back as
    // failing with error. Returns the ticks at which the file was tried.
    std::vector<ULONGLONG> RunUntil(ULONGLONG end, DWORD error) {
        std::vector<ULONGLONG> tries;
        for (;;) {
            const DWORD sleep = state.SleepFor(root, now);
            if (sleep == INFINITE || now + sleep > end) break;
            now += sleep;
            for (FolderJob& job : state.Plan(root, now, 8)) {
                for (const auto& due : job.due) {
                    tries.push_back(now);
                    FileOutcome again;
                    again.name = due.first;
                    again.lower = due.second;
                    again.error = error;
                    job.files.push_back(std::move(again));
                }
                state.TakeJob(job, now, released);
            }
        }
        return tries;
    }
    void FindFile(const wchar_t* name, const wchar_t* lower, DWORD error, std::int64_t fileId = 0) {
        FolderJob job;
        job.folderKey = L"c:\\data";
        job.serial = 1;
        FileOutcome found;
        found.name = name;
        found.lower = lower;
        found.error = error;
        found.fileId = fileId;
        if (error == ERROR_SUCCESS) found.file.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        job.files.push_back(std::move(found));
        state.TakeJob(job, now, released);
    }
    static ULONGLONG LongestGap(const std::vector<ULONGLONG>& tries, ULONGLONG from, ULONGLONG to) {
        ULONGLONG longest = 0;
        for (std::size_t i = 1; i < tries.size(); ++i) {
            if (tries[i - 1] >= from && tries[i] <= to) longest = std::max(longest, tries[i] - tries[i - 1]);
        }
        return longest;
    }

    LockerState state;
    std::wstring root;
    ULONGLONG now = 1000;
    std::vector<UniqueHandle> released;
};

TEST_F(LockerStateTest, FileHeldElsewhereIsTriedLessOftenTheLongerItWaits) {
    FindFile(L"Busy.txt", L"busy.txt", ERROR_SHARING_VIOLATION);
    const ULONGLONG start = now;
    const std::vector<ItemStatus> status = state.Status({L"c:\\data\\*.*"});
    EXPECT_EQ(1u, status[0].filesWaiting);

    std::vector<ULONGLONG> tries = RunUntil(start + 30 * kMinute, ERROR_SHARING_VIOLATION);
    ASSERT_FALSE(tries.empty());
    EXPECT_LE(tries.front() - start, 100u);
    // At most a second apart in the first minute, half a minute until the
    // tenth, two minutes after: a file let go is locked within two minutes.
    EXPECT_LE(LongestGap(tries, start, start + kMinute), 1000u);
    EXPECT_LE(LongestGap(tries, start, start + 10 * kMinute), 30000u);
    EXPECT_EQ(120000u, LongestGap(tries, start, start + 30 * kMinute));
    const auto late = std::count_if(tries.begin(), tries.end(),
                                    [&](ULONGLONG at) { return at > start + 11 * kMinute; });
    EXPECT_LE(late, 10);
    EXPECT_GE(late, 9);

    // A write to it, as its holder closes it, brings the next try forward.
    std::vector<FolderChange> changes(1);
    changes[0].action = FILE_ACTION_MODIFIED;
    changes[0].name = L"Busy.txt";
    changes[0].lower = L"busy.txt";
    now = tries.back() + 1000;
    state.TakeChanges(L"c:\\data", 1, changes, now);
    EXPECT_EQ(0u, state.SleepFor(root, now));
}

TEST_F(LockerStateTest, FileThisAccountMayNotReadIsNotedAndTriedSlowly) {
    FindFile(L"secret.doc", L"secret.doc", ERROR_ACCESS_DENIED);
    FindFile(L"odd.bin", L"odd.bin", ERROR_INVALID_FUNCTION);
    FindFile(L"gone.txt", L"gone.txt", ERROR_FILE_NOT_FOUND);
    // Files known by id: in a case-sensitive folder (Windows only) a.txt and
    // A.txt, the second again while held; a hard link naming a.txt again.
    FindFile(L"a.txt", L"a.txt", ERROR_SUCCESS, 7);
    FindFile(L"A.txt", L"a.txt", ERROR_SUCCESS, 8);
    FindFile(L"A.txt", L"a.txt", ERROR_SHARING_VIOLATION, 8);
    FindFile(L"link.txt", L"link.txt", ERROR_SHARING_VIOLATION, 7);
    const std::vector<ItemStatus> status = state.Status({L"c:\\data\\*.*"});
    EXPECT_EQ(3u, status[0].filesHeld);
    EXPECT_EQ(2u, state.Report().lockedFiles);
    EXPECT_EQ(0u, status[0].filesWaiting);
    EXPECT_EQ(1u, status[0].filesDenied);
    EXPECT_EQ(1u, status[0].filesFailed);
    const ULONGLONG start = now;
    const std::vector<ULONGLONG> tries = RunUntil(start + 5 * kMinute, ERROR_ACCESS_DENIED);
    ASSERT_FALSE(tries.empty());
    EXPECT_GE(tries.front() - start, 30000u);

    // Unlocking lets go of everything and ends the folder's watch.
    EXPECT_TRUE(state.Unlock(L"c:\\data\\*.*", released).rootIdle);
    EXPECT_EQ(std::vector<std::uint64_t>{1}, state.TakeRetired(root));
    EXPECT_EQ(0u, state.Report().items);
}

TEST_F(LockerStateTest, ValuesThatAreNoPathLockNothing) {
    EXPECT_EQ(L"", state.Lock(MakeItemKey(L"data\\*.*"), now));
    EXPECT_EQ(ItemStatus::Refusal::NotAPath, state.Status({L"data\\*.*"})[0].refusal);
    EXPECT_EQ(1u, state.Report().folders);
}

// Which subfolders a folder locked with its subfolders goes into.
TEST(TreeEntries, HiddenSubfoldersAndReparsePointsOfAnyKindAreNotEntered) {
    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_TRUE(TreeEnters(kFolder | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(TreeEnters(kFolder | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(TreeEnters(kFolder | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(TreeEnters(FILE_ATTRIBUTE_ARCHIVE));
}

}  // namespace
}  // namespace vaultmere
