// Files and folders reached through handles, and the one tree counter, on
// real folders and real links (made from the host's side).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TextCase.h"
#include "locker/FolderHandles.h"
#include "locker/TreeCount.h"
#include "tests/support/TestSupport.h"

namespace vaultmere {
namespace {

using testing_support::MakeFolder;
using testing_support::MakeLink;
using testing_support::TempFolder;
using testing_support::WriteTextFile;

UniqueHandle OpenFolder(const std::wstring& path) {
    return UniqueHandle(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class FolderHandlesTest : public ::testing::Test {
protected:
    // top: a.txt, a hidden file, sub\b.txt, sub\deep\c.txt, and a link to
    // elsewhere, which holds three files.
    void SetUp() override {
        ASSERT_TRUE(WriteTextFile(top / L"a.txt", "a"));
        ASSERT_TRUE(WriteTextFile(top / L"hidden.txt", "h"));
        ASSERT_TRUE(::SetFileAttributesW((top / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(MakeFolder(top / L"sub") && MakeFolder(top / L"sub\\deep"));
        ASSERT_TRUE(WriteTextFile(top / L"sub\\b.txt", "b") && WriteTextFile(top / L"sub\\deep\\c.txt", "c"));
        for (const wchar_t* name : {L"x.txt", L"y.txt", L"z.txt"}) ASSERT_TRUE(WriteTextFile(elsewhere / name, "x"));
        ASSERT_TRUE(MakeLink(top / L"link", elsewhere.Path()));
    }

    TempFolder top{L"handles"};
    TempFolder elsewhere{L"elsewhere"};
};

TEST_F(FolderHandlesTest, AListingMarksALinkAndGivesTheIdsTheHandlesRead) {
    // Windows opens a link itself through OpenRelative; Wine follows it,
    // and gives the id of where it leads, so a link is told by the listing.
    const UniqueHandle folder = OpenFolder(top.Path());
    ASSERT_TRUE(folder);
    // The listing gives each entry once, with the ids the handles read.
    const UniqueHandle listing = ReopenForListing(folder.Get());
    std::vector<FolderEntry> entries;
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, ListFolder(listing.Get(), std::wstring(), [&](const FolderEntry& entry) {
                  entries.push_back(entry);
                  return true;
              }));
    ASSERT_EQ(4u, entries.size());
    for (const FolderEntry& entry : entries) {
        EXPECT_EQ(entry.name == L"link", (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) << entry.name;
    }
    FolderEntry found;
    ASSERT_TRUE(FindEntry(folder.Get(), L"A.TXT", found));
    EXPECT_EQ(L"a.txt", found.name);
    const UniqueHandle file = OpenRelative(folder.Get(), L"a.txt", GENERIC_READ, FILE_SHARE_READ,
                                           FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
    ASSERT_TRUE(file);
    EXPECT_EQ(found.fileId, FileIdOf(file.Get()));
    EXPECT_EQ(DWORD{1}, LinkCountOf(file.Get()));
    EXPECT_FALSE(FindEntry(folder.Get(), L"none.txt", found));
    EXPECT_FALSE(OpenRelative(folder.Get(), L"none.txt", GENERIC_READ, 0, FILE_NON_DIRECTORY_FILE));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, ::GetLastError());
}

TEST_F(FolderHandlesTest, TreeCountTakesFilesAndSubfoldersButNoHiddenFileNorLink) {
    // a.txt, sub, sub\b.txt, sub\deep, sub\deep\c.txt.
    EXPECT_EQ(5u, CountTree(top.Path(), 100));
    EXPECT_EQ(4u, CountTree(top.Path(), 3));
    std::vector<std::wstring> asked;
    EXPECT_EQ(5u, CountTree(top.Path(), 100, [&](const std::wstring& entry, bool isFolder) {
                  asked.push_back(LowerCase(entry.substr(top.Path().size())) + (isFolder ? L"\\" : L""));
                  return true;
              }));
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ((std::vector<std::wstring>{L"\\a.txt", L"\\sub\\", L"\\sub\\b.txt", L"\\sub\\deep\\",
                                         L"\\sub\\deep\\c.txt"}),
              asked);
    // A refusal counts as too many.
    EXPECT_EQ(101u, CountTree(top.Path(), 100, [](const std::wstring& entry, bool) {
                  return entry.find(L"c.txt") == std::wstring::npos;
              }));
    // A link given as the folder is not followed; a folder missing counts as empty.
    EXPECT_EQ(0u, CountTree(top / L"link", 100));
    EXPECT_EQ(0u, CountTree(top / L"none", 100));
    const UniqueHandle folder = OpenFolder(top.Path());
    EXPECT_EQ(3u, CountTreeBeneath(folder.Get(), L"sub", 100));
    EXPECT_EQ(0u, CountTreeBeneath(folder.Get(), L"link", 100));
    // A hidden subfolder is not entered, but counted when it is the folder given.
    ASSERT_TRUE(::SetFileAttributesW((top / L"sub").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(1u, CountTree(top.Path(), 100));
    EXPECT_EQ(3u, CountTree(top / L"sub", 100));

    // Which subfolders a tree goes into.
    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_TRUE(TreeEnters(kFolder | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(TreeEnters(kFolder | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(TreeEnters(kFolder | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(TreeEnters(FILE_ATTRIBUTE_ARCHIVE));
}

}  // namespace
}  // namespace vaultmere
