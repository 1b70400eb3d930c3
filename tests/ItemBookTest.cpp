#include <gtest/gtest.h>

#include <string>

#include "forms/config/ItemBook.h"

namespace vaultmere {
namespace {

TEST(ItemList, SelectionOutOfRangeMeansNoneAndFollowsItsItemThroughANewList) {
    ItemList list;
    list.Replace(ItemsOf({L"c:\\a\\*.*"}));
    list.SetListIndex(5);
    EXPECT_EQ(-1, list.ListIndex());
    EXPECT_EQ(L"", list.SelectedText());
    list.SetListIndex(0);
    EXPECT_EQ(L"c:\\a\\*.*", list.SelectedText());
    // The same item written another way stays selected and shows as now written.
    list.Replace(ItemsOf({L"c:\\b\\*.*", L"C:\\A\\*.*"}));
    EXPECT_EQ(1, list.ListIndex());
    EXPECT_EQ(L"C:\\A\\*.*", list.SelectedText());
    list.Replace(ItemsOf({L"c:\\b\\*.*"}));
    EXPECT_EQ(-1, list.ListIndex());
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
              EntryNote(Item(L"C:\\Data\\**\\*.*"), status));
    EXPECT_EQ(L"with subfolders", EntryNote(Item(L"c:\\data\\**\\*.*"), ItemStatus()));
    status.setByPolicy = true;
    EXPECT_EQ(L"with subfolders, set by your administrator, no access, cannot be locked, 4 over the file limit",
              EntryNote(Item(L"C:\\Data\\**\\*.*"), status));
    EXPECT_EQ(L"", EntryNote(Item(L"c:\\data\\*.*"), ItemStatus()));
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
