#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "forms/config/ItemLists.h"

namespace vaultmere {
namespace {

class RecordingLocker : public ItemLocker {
public:
    void SetItemLocked(const std::wstring& path, bool locked) override { calls.emplace_back(path, locked); }
    std::vector<std::pair<std::wstring, bool>> calls;
};

using Entries = std::vector<std::wstring>;

class ItemListsTest : public ::testing::Test {
protected:
    void Load(const Entries& items) {
        for (const auto& item : items) lists.AddLockedItem(item);
        locker.calls.clear();
    }
    RecordingLocker locker;
    ItemLists lists{locker};
};

TEST_F(ItemListsTest, LoadingAppendsToLockedAndPersistedListsAndLocksInOrder) {
    lists.AddLockedItem(L"a");
    lists.AddLockedItem(L"b");
    EXPECT_EQ((Entries{L"a", L"b"}), lists.lockedList.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.storedList.Entries());
    EXPECT_TRUE(lists.unlockedList.Entries().empty());
    ASSERT_EQ(2u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"a"), true), locker.calls[0]);
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), true), locker.calls[1]);
}

TEST_F(ItemListsTest, NothingSelectedMeansNothingHappens) {
    Load({L"a", L"b"});
    lists.UnlockSelected();
    lists.RelockSelected();
    bool asked = false;
    lists.RemoveSelected([&](const std::wstring&) { return asked = true; });
    EXPECT_FALSE(asked);
    EXPECT_TRUE(locker.calls.empty());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.lockedList.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.storedList.Entries());
}

TEST_F(ItemListsTest, UnlockAndRelockMoveToTheEndAndKeepThePersistedOrder) {
    Load({L"a", L"B", L"c"});
    lists.lockedList.SetListIndex(1);
    lists.UnlockSelected();
    EXPECT_EQ((Entries{L"a", L"c"}), lists.lockedList.Entries());
    EXPECT_EQ((Entries{L"B"}), lists.unlockedList.Entries());
    EXPECT_EQ(-1, lists.lockedList.ListIndex());

    lists.unlockedList.SetListIndex(0);
    lists.RelockSelected();
    EXPECT_EQ((Entries{L"a", L"c", L"B"}), lists.lockedList.Entries());
    EXPECT_TRUE(lists.unlockedList.Entries().empty());
    EXPECT_EQ(-1, lists.unlockedList.ListIndex());
    EXPECT_EQ((Entries{L"a", L"B", L"c"}), lists.storedList.Entries());

    // The lock calls get the path lower-cased; the lists keep the text.
    ASSERT_EQ(2u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), false), locker.calls[0]);
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), true), locker.calls[1]);
}

TEST_F(ItemListsTest, UnlockedEntriesRelockAfterTheirTimeAsRelockItemDoes) {
    constexpr std::uint64_t kMinute = 600000000;
    RelockSettings settings{true, 1};
    std::uint64_t now = 10 * kMinute;
    lists.relockSettings = [&] { return settings; };
    lists.clock = [&] { return now; };
    Load({L"A", L"b", L"c"});
    for (int i = 0; i < 2; ++i) {
        lists.lockedList.SetListIndex(0);
        lists.UnlockSelected();
        now += kMinute / 2;
    }
    EXPECT_EQ((std::vector<std::uint64_t>{11 * kMinute, 23 * kMinute / 2}), lists.UnlockedRelockTimes());
    // Relocked and unlocked again: its time starts again.
    lists.unlockedList.SetListIndex(0);
    lists.RelockSelected();
    lists.lockedList.SetListIndex(1);
    lists.UnlockSelected();
    EXPECT_FALSE(lists.RelockDue());
    now += kMinute / 2;
    EXPECT_TRUE(lists.RelockDue());
    EXPECT_EQ((Entries{L"c", L"b"}), lists.lockedList.Entries());
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), true), locker.calls.back());
    EXPECT_EQ((std::vector<std::uint64_t>{12 * kMinute}), lists.UnlockedRelockTimes());
}

TEST_F(ItemListsTest, RemoveAsksAndUnlocksTheEntryAsShown) {
    Load({L"a", L"b", L"C:\\Data\\*.*"});
    lists.lockedList.SetListIndex(2);
    std::wstring asked;
    lists.RemoveSelected([&](const std::wstring& entry) {
        asked = entry;
        return false;
    });
    EXPECT_EQ(L"C:\\Data\\*.*", asked);
    EXPECT_TRUE(locker.calls.empty());
    EXPECT_EQ(3, lists.lockedList.ListCount());
    EXPECT_EQ(2, lists.lockedList.ListIndex());

    lists.RemoveSelected([](const std::wstring&) { return true; });
    ASSERT_EQ(1u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"C:\\Data\\*.*"), false), locker.calls[0]);
    EXPECT_EQ((Entries{L"a", L"b"}), lists.lockedList.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.storedList.Entries());
    EXPECT_EQ(-1, lists.lockedList.ListIndex());
}

TEST_F(ItemListsTest, PersistedListIsLockedPlusUnlocked) {
    Load({L"a", L"b", L"c"});
    lists.lockedList.SetListIndex(1);
    lists.UnlockSelected();
    lists.lockedList.SetListIndex(1);
    lists.RemoveSelected([](const std::wstring&) { return true; });
    EXPECT_EQ((Entries{L"a"}), lists.lockedList.Entries());
    EXPECT_EQ((Entries{L"b"}), lists.unlockedList.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.storedList.Entries());
}

TEST_F(ItemListsTest, DuplicatesStayUntilEachIsRemoved) {
    Load({L"x", L"y", L"x"});
    lists.lockedList.SetListIndex(2);
    lists.RemoveSelected([](const std::wstring&) { return true; });
    EXPECT_EQ((Entries{L"x", L"y"}), lists.lockedList.Entries());
    // One of the equal entries leaves the persisted list; the other stays.
    EXPECT_EQ((Entries{L"y", L"x"}), lists.storedList.Entries());
}

TEST(ItemList, SelectionOutOfRangeMeansNone) {
    ItemList list;
    list.AddItem(L"a");
    list.SetListIndex(5);
    EXPECT_EQ(-1, list.ListIndex());
    EXPECT_EQ(L"", list.SelectedText());
    list.SetListIndex(0);
    EXPECT_EQ(L"a", list.SelectedText());
    list.RemoveItem(7);
    EXPECT_EQ(0, list.ListIndex());
}

TEST(StatusNote, SaysWhyAnItemIsNotWhollyLocked) {
    ItemStatus status;
    EXPECT_EQ(L"", StatusNote(status));
    status.locked = true;
    EXPECT_EQ(L"", StatusNote(status));
    status.filesWaiting = 1;
    EXPECT_EQ(L"1 file in use", StatusNote(status));
    status.filesWaiting = 2;
    status.filesDenied = 3;
    EXPECT_EQ(L"2 files in use, no access", StatusNote(status));
    status.filesWaiting = 0;
    status.filesFailed = 1;
    EXPECT_EQ(L"no access, cannot be locked", StatusNote(status));
    status.filesOverLimit = 4;
    EXPECT_EQ(L"no access, cannot be locked, 4 over the file limit", StatusNote(status));
    // A folder with its subfolders says so first, also when all is well.
    EXPECT_EQ(L"with subfolders, no access, cannot be locked, 4 over the file limit",
              EntryNote(L"C:\\Data\\**\\*.*", status));
    EXPECT_EQ(L"with subfolders", EntryNote(L"c:\\data\\**\\*.*", ItemStatus()));
    status.setByPolicy = true;
    EXPECT_EQ(L"with subfolders, set by your administrator, no access, cannot be locked, 4 over the file limit",
              EntryNote(L"C:\\Data\\**\\*.*", status));
    EXPECT_EQ(L"", EntryNote(L"c:\\data\\*.*", ItemStatus()));
    // What stops every file goes before what stops some.
    status.folder = ItemStatus::Folder::Missing;
    EXPECT_EQ(L"folder missing", StatusNote(status));
    status.folder = ItemStatus::Folder::Unreachable;
    EXPECT_EQ(L"not reachable", StatusNote(status));
    status.refusal = ItemStatus::Refusal::FolderWithoutPattern;
    EXPECT_EQ(L"folder given without \\*.*", StatusNote(status));
    status.refusal = ItemStatus::Refusal::SystemFolder;
    EXPECT_EQ(L"cannot be locked", StatusNote(status));
    status.refusal = ItemStatus::Refusal::NotAPath;
    EXPECT_EQ(L"cannot be locked", StatusNote(status));
    status.locked = false;
    EXPECT_EQ(L"", StatusNote(status));
}

}  // namespace
}  // namespace vaultmere
