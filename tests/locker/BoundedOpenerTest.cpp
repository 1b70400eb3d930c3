// A lane's opens on their own thread: one that does not return holds up
// that file alone, and what it opens late is closed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "locker/BoundedOpener.h"
#include "locker/FolderLane.h"
#include "tests/support/TestSupport.h"

namespace vaultmere {
namespace {

using testing_support::OpenHere;
using testing_support::TempFolder;
using testing_support::WaitUntil;
using testing_support::WriteTextFile;

class BoundedOpenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"slow.txt"})
            ASSERT_TRUE(WriteTextFile(folder / name, "x"));
        handle.Reset(::CreateFileW(folder.Path().c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(handle);
    }
    std::vector<OpenRequest> Requests(std::initializer_list<const wchar_t*> names) const {
        std::vector<OpenRequest> requests;
        for (const wchar_t* name : names) requests.push_back({handle.Get(), &key, name, name});
        return requests;
    }

    TempFolder folder{L"opener"};
    UniqueHandle handle;
    const std::wstring key = L"c:\\opener";
    std::atomic<bool> stop{false};
    std::atomic<unsigned> unlocks{0};
};

TEST_F(BoundedOpenerTest, AnOpenThatDoesNotReturnIsLeftBehindAndClosesWhatItOpensLate) {
    UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> lateOpened{false};
    BoundedOpener opener(
        [&](HANDLE from, const std::wstring& name) {
            if (name != L"slow.txt") return OpenFileLocked(from, name);
            ::WaitForSingleObject(release.Get(), 60000);
            UniqueHandle file = OpenFileLocked(from, name);
            lateOpened = static_cast<bool>(file);
            return file;
        },
        stop, &unlocks);
    const std::vector<OpenRequest> requests = Requests({L"a.txt", L"slow.txt", L"b.txt", L"none.txt"});
    std::vector<OpenResult> results;
    opener.Run(requests, 0, 0, results);
    ASSERT_EQ(4u, results.size());
    EXPECT_TRUE(results[0].file);
    EXPECT_EQ(DWORD{ERROR_TIMEOUT}, results[1].error);
    EXPECT_TRUE(results[2].file);
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, results[3].error);
    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, OpenHere(folder / L"b.txt"));

    // Still under way: not tried again. The folder handle the lane lets go
    // of stays open for it.
    results.clear();
    opener.Run(Requests({L"slow.txt"}), 0, 0, results);
    ASSERT_EQ(1u, results.size());
    EXPECT_EQ(DWORD{ERROR_TIMEOUT}, results[0].error);
    opener.Keep(std::move(handle));
    ::SetEvent(release.Get());
    ASSERT_TRUE(WaitUntil([&] { return lateOpened.load(); }));
    // What it opened is closed once it returns.
    EXPECT_TRUE(WaitUntil([&] { return OpenHere(folder / L"slow.txt") == ERROR_SUCCESS; }));
}

TEST_F(BoundedOpenerTest, AnUnlockOrTheLaneStoppingCutsTheBatchShort) {
    BoundedOpener opener(
        [&](HANDLE from, const std::wstring& name) {
            if (name == L"b.txt") ++unlocks;
            return OpenFileLocked(from, name);
        },
        stop, &unlocks);
    const std::vector<OpenRequest> requests = Requests({L"a.txt", L"b.txt", L"c.txt"});
    std::vector<OpenResult> results;
    opener.Run(requests, 0, 0, results);
    ASSERT_EQ(2u, results.size());
    EXPECT_TRUE(results[1].file);
    // The rest, from where it stopped.
    opener.Run(requests, 2, unlocks.load(), results);
    ASSERT_EQ(3u, results.size());
    EXPECT_TRUE(results[2].file);

    stop = true;
    results.clear();
    opener.Run(Requests({L"slow.txt"}), 0, unlocks.load(), results);
    EXPECT_TRUE(results.empty());
}

}  // namespace
}  // namespace vaultmere
