#include <gtest/gtest.h>

#include "locker/ItemPath.h"

namespace vaultmere {
namespace {

using Kind = ItemTarget::Kind;

TEST(ItemPath, FolderPatternsAndFiles) {
    ItemTarget t = ParseItemPath(L"c:\\data\\private\\*.*");
    EXPECT_EQ(Kind::Pattern, t.kind);
    EXPECT_EQ(L"c:\\data\\private", t.folder);
    EXPECT_EQ(L"*.*", t.name);

    t = ParseItemPath(L"d:\\*.*");
    EXPECT_EQ(Kind::Pattern, t.kind);
    EXPECT_EQ(L"d:\\", t.folder);

    t = ParseItemPath(L"C:/Data//./x/../report.doc");
    EXPECT_EQ(Kind::File, t.kind);
    EXPECT_EQ(L"C:\\Data", t.folder);
    EXPECT_EQ(L"report.doc", t.name);

    t = ParseItemPath(L"\\\\server\\share\\dir\\*.txt");
    EXPECT_EQ(Kind::Pattern, t.kind);
    EXPECT_EQ(L"\\\\server\\share\\dir", t.folder);
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\dir", ExtendedLengthPath(t.folder));
    EXPECT_EQ(L"\\\\?\\c:\\data", ExtendedLengthPath(L"c:\\data"));
}

TEST(ItemPath, RefusesWhatIsNotAnAbsoluteFilePath) {
    for (const wchar_t* path :
         {L"", L"data\\*.*", L"c:data\\*.*", L"\\data\\*.*", L"CON", L"\\\\.\\PhysicalDrive0", L"\\\\?\\c:\\data\\*.*",
          L"\\\\.\\c:\\x", L"\\\\server", L"\\\\server\\share", L"c:\\data\\", L"c:\\", L"c:\\..", L"1:\\x"}) {
        EXPECT_EQ(Kind::Refused, ParseItemPath(path).kind) << std::string(path, path + wcslen(path));
    }
    EXPECT_EQ(Kind::Refused, ParseItemPath(std::wstring(L"c:\\a\0b", 6)).kind);
    EXPECT_EQ(Kind::Refused, ParseItemPath(L"c:\\" + std::wstring(kMaxItemPathLength, L'a')).kind);
}

TEST(ItemPath, TreeFormNamesTheFolderAboveItWithEverythingBeneath) {
    const ItemKey item = MakeItemKey(L"D:\\Private\\.\\**\\*.*");
    EXPECT_TRUE(item.tree);
    EXPECT_EQ(L"D:\\Private", item.target.folder);
    EXPECT_EQ(L"d:\\private\\**\\*.*", item.key);
    EXPECT_EQ(L"d:\\", MakeItemKey(TreeItem(L"D:\\")).folder);
    EXPECT_EQ(L"\\\\server\\share", MakeItemKey(L"\\\\server\\share\\**\\*.*").folder);
    for (const wchar_t* path : {L"c:\\data\\*.*", L"c:\\data\\**\\*.txt", L"c:\\data\\**x\\*.*", L"c:\\data\\**"}) {
        EXPECT_FALSE(MakeItemKey(path).tree) << std::string(path, path + wcslen(path));
    }
    // A policy's value: a folder is its files, folder\** the tree; an item stays as written.
    const std::pair<const wchar_t*, const wchar_t*> policy[] = {{L"C:\\Data\\Docs", L"C:\\Data\\Docs\\*.*"},
                                                                {L"c:/data/docs/", L"c:\\data\\docs\\*.*"},
                                                                {L"d:\\", L"d:\\*.*"},
                                                                {L"C:\\Data\\**", L"C:\\Data\\**\\*.*"},
                                                                {L"C:\\Data\\.\\**\\", L"C:\\Data\\**\\*.*"},
                                                                {L"C:\\Data\\**\\*.*", L"C:\\Data\\**\\*.*"},
                                                                {L"C:\\Data\\*.txt", L"C:\\Data\\*.txt"},
                                                                {L"\\\\server\\share\\**",
                                                                 L"\\\\server\\share\\**\\*.*"}};
    for (const auto& [value, item] : policy) EXPECT_EQ(item, ItemOfPolicyValue(value).item);
    const std::pair<const wchar_t*, ItemFault> unusable[] = {{L"", ItemFault::NotFullPath},
                                                             {L"Data\\Docs", ItemFault::NotFullPath},
                                                             {L"\\\\.\\c:\\x", ItemFault::NotFullPath},
                                                             {L"c:\\da*\\docs", ItemFault::WildcardInFolder},
                                                             {L"c:\\data\\**\\*.txt", ItemFault::WildcardInFolder}};
    for (const auto& [value, fault] : unusable) {
        EXPECT_EQ(fault, ItemOfPolicyValue(value).fault);
        EXPECT_TRUE(ItemOfPolicyValue(value).item.empty());
    }
    EXPECT_EQ(ItemFault::TooLong, ItemOfPolicyValue(L"c:\\" + std::wstring(kMaxItemPathLength, L'a')).fault);
    EXPECT_EQ(ItemFault::NamesNoFiles, FaultOfItem(L"c:\\data\\"));
    EXPECT_TRUE(FolderWithin(L"c:\\windows", L"c:\\"));
    EXPECT_FALSE(FolderWithin(L"c:\\database", L"c:\\data"));
}

TEST(ItemPath, LongPathsAreKept) {
    std::wstring path = L"c:";
    while (path.size() < 1000) path += L"\\segment";
    const ItemTarget t = ParseItemPath(path + L"\\*.*");
    EXPECT_EQ(Kind::Pattern, t.kind);
    EXPECT_EQ(path, t.folder);
}

}  // namespace
}  // namespace vaultmere
