#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forms/add/ChooserLists.h"
#include "forms/add/FolderItem.h"
#include "locker/ItemPath.h"

namespace vaultmere {
namespace {

using Names = std::vector<std::wstring>;

TEST(FolderItemTest, FolderGetsOneBackslashAndWildcardAllLowerCased) {
    EXPECT_EQ(L"d:\\*.*", FolderItem(L"D:\\"));
    EXPECT_EQ(L"c:\\data\\private\\*.*", FolderItem(L"C:\\Data\\Private"));
    EXPECT_EQ(L"c:\\data\\private\\*.*", FolderItem(L"C:\\Data\\Private\\"));
    EXPECT_EQ(L"\\\\server\\share\\docs\\*.*", FolderItem(L"\\\\SERVER\\Share\\Docs"));
    // Letters beyond ASCII are lower-cased too.
    EXPECT_EQ(L"c:\\\u00e4rger\\\u0161kola\\*.*", FolderItem(L"C:\\\u00c4RGER\\\u0160kola"));
    // With its subfolders.
    EXPECT_EQ(L"d:\\**\\*.*", FolderItem(L"D:\\", true));
    EXPECT_EQ(L"c:\\data\\private\\**\\*.*", FolderItem(L"C:\\Data\\Private\\", true));
}

TEST(FolderItemTest, ConfirmationTextIsExact) {
    EXPECT_EQ(L"Folder c:\\data\\private\\*.* added for locking! NOTE: Sub folders were not locked.",
              LockConfirmation(FolderItem(L"C:\\Data\\Private")));
    EXPECT_EQ(L"Folder c:\\data\\private\\**\\*.* added for locking! Sub folders were locked too.",
              LockConfirmation(FolderItem(L"C:\\Data\\Private", true), true));
}

TEST(FolderPathTest, NormalisedToOneAbsoluteForm) {
    EXPECT_EQ(L"C:\\", NormalizeFolderPath(L"C:\\"));
    EXPECT_EQ(L"c:\\a\\c", NormalizeFolderPath(L"c:/a/./b/../c/"));
    EXPECT_EQ(L"c:\\", NormalizeFolderPath(L"c:\\a\\..\\.."));
    EXPECT_EQ(L"c:\\a", NormalizeFolderPath(L"\\\\?\\c:\\a\\"));
    EXPECT_EQ(L"\\\\srv\\share", NormalizeFolderPath(L"\\\\srv\\share\\"));
    EXPECT_EQ(L"\\\\srv\\share\\x", NormalizeFolderPath(L"\\\\?\\UNC\\srv\\share\\x"));
    // Not absolute, or not a folder path at all.
    EXPECT_EQ(L"", NormalizeFolderPath(L""));
    EXPECT_EQ(L"", NormalizeFolderPath(L"c:"));
    EXPECT_EQ(L"", NormalizeFolderPath(L"c:data"));
    EXPECT_EQ(L"", NormalizeFolderPath(L"data\\x"));
    EXPECT_EQ(L"", NormalizeFolderPath(L"\\\\srv"));
    EXPECT_EQ(L"", NormalizeFolderPath(L"\\\\srv\\"));
    EXPECT_EQ(L"", NormalizeFolderPath(L"\\\\.\\c:\\x"));
    EXPECT_EQ(L"", NormalizeFolderPath(std::wstring(L"c:\\a\0b", 6)));
}

TEST(FolderPathTest, ChainRunsFromTheRootDown) {
    EXPECT_EQ((Names{L"C:\\"}), FolderChain(L"C:\\"));
    EXPECT_EQ((Names{L"C:\\", L"C:\\Data", L"C:\\Data\\Private"}), FolderChain(L"C:\\Data\\Private"));
    EXPECT_EQ((Names{L"\\\\srv\\share", L"\\\\srv\\share\\x"}), FolderChain(L"\\\\srv\\share\\x"));
}

TEST(FolderPathTest, NamesSortWithoutRegardToCase) {
    Names names{L"beta", L"Alpha", L"gamma", L"ALPHA2", L"_x", L"Beta1"};
    SortNames(names);
    EXPECT_EQ((Names{L"_x", L"Alpha", L"ALPHA2", L"beta", L"Beta1", L"gamma"}), names);
}

}  // namespace
}  // namespace vaultmere
