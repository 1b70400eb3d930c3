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
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List1.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List3.Entries());
    EXPECT_TRUE(lists.List2.Entries().empty());
    ASSERT_EQ(2u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"a"), true), locker.calls[0]);
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), true), locker.calls[1]);
}

TEST_F(ItemListsTest, NothingSelectedMeansNothingHappens) {
    Load({L"a", L"b"});
    lists.cmdunlock_Click();
    lists.cmdlock_Click();
    bool asked = false;
    lists.cmddel_Click([&](const std::wstring&) { return asked = true; });
    EXPECT_FALSE(asked);
    EXPECT_TRUE(locker.calls.empty());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List1.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List3.Entries());
}

TEST_F(ItemListsTest, UnlockAndRelockMoveToTheEndAndKeepThePersistedOrder) {
    Load({L"a", L"B", L"c"});
    lists.List1.SetListIndex(1);
    lists.cmdunlock_Click();
    EXPECT_EQ((Entries{L"a", L"c"}), lists.List1.Entries());
    EXPECT_EQ((Entries{L"B"}), lists.List2.Entries());
    EXPECT_EQ(-1, lists.List1.ListIndex());

    lists.List2.SetListIndex(0);
    lists.cmdlock_Click();
    EXPECT_EQ((Entries{L"a", L"c", L"B"}), lists.List1.Entries());
    EXPECT_TRUE(lists.List2.Entries().empty());
    EXPECT_EQ(-1, lists.List2.ListIndex());
    EXPECT_EQ((Entries{L"a", L"B", L"c"}), lists.List3.Entries());

    // The lock calls get the path lower-cased; the lists keep the text.
    ASSERT_EQ(2u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), false), locker.calls[0]);
    EXPECT_EQ(std::make_pair(std::wstring(L"b"), true), locker.calls[1]);
}

TEST_F(ItemListsTest, RemoveAsksAndUnlocksTheEntryAsShown) {
    Load({L"a", L"b", L"C:\\Data\\*.*"});
    lists.List1.SetListIndex(2);
    std::wstring asked;
    lists.cmddel_Click([&](const std::wstring& entry) {
        asked = entry;
        return false;
    });
    EXPECT_EQ(L"C:\\Data\\*.*", asked);
    EXPECT_TRUE(locker.calls.empty());
    EXPECT_EQ(3, lists.List1.ListCount());
    EXPECT_EQ(2, lists.List1.ListIndex());

    lists.cmddel_Click([](const std::wstring&) { return true; });
    ASSERT_EQ(1u, locker.calls.size());
    EXPECT_EQ(std::make_pair(std::wstring(L"C:\\Data\\*.*"), false), locker.calls[0]);
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List1.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List3.Entries());
    EXPECT_EQ(-1, lists.List1.ListIndex());
}

TEST_F(ItemListsTest, PersistedListIsLockedPlusUnlocked) {
    Load({L"a", L"b", L"c"});
    lists.List1.SetListIndex(1);
    lists.cmdunlock_Click();
    lists.List1.SetListIndex(1);
    lists.cmddel_Click([](const std::wstring&) { return true; });
    EXPECT_EQ((Entries{L"a"}), lists.List1.Entries());
    EXPECT_EQ((Entries{L"b"}), lists.List2.Entries());
    EXPECT_EQ((Entries{L"a", L"b"}), lists.List3.Entries());
}

TEST_F(ItemListsTest, DuplicatesStayUntilEachIsRemoved) {
    Load({L"x", L"y", L"x"});
    lists.List1.SetListIndex(2);
    lists.cmddel_Click([](const std::wstring&) { return true; });
    EXPECT_EQ((Entries{L"x", L"y"}), lists.List1.Entries());
    // One of the equal entries leaves the persisted list; the other stays.
    EXPECT_EQ((Entries{L"y", L"x"}), lists.List3.Entries());
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

}  // namespace
}  // namespace vaultmere
