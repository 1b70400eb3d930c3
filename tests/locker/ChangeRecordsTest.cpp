// The records a folder's watch reads, every odd buffer among them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "locker/ChangeRecords.h"

namespace vaultmere {
namespace {

void Put32(std::vector<unsigned char>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}
// Appends one record as the system writes it; next 0 ends the chain.
std::size_t Record(std::vector<unsigned char>& bytes, std::uint32_t next, std::uint32_t action,
                   const std::u16string& name, std::uint32_t nameBytes = UINT32_MAX) {
    const std::size_t at = bytes.size();
    Put32(bytes, next);
    Put32(bytes, action);
    Put32(bytes, nameBytes == UINT32_MAX ? static_cast<std::uint32_t>(name.size() * 2) : nameBytes);
    for (char16_t unit : name) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return at;
}
std::vector<FolderChange> Parse(const std::vector<unsigned char>& bytes) {
    return ParseChangeRecords(bytes.data(), bytes.size());
}

TEST(ChangeRecords, ChainedRecordsGiveEachChangeWithItsActionAndLowerCasedName) {
    std::vector<unsigned char> bytes;
    Record(bytes, 28, 1, u"New.TXT");  // 12 + 14 bytes, padded to 28
    bytes.resize(28);
    Record(bytes, 20, 4, u"old");  // 12 + 6, padded to 20
    bytes.resize(48);
    Record(bytes, 0, 5, u"new\u00e9");
    const std::vector<FolderChange> changes = Parse(bytes);
    ASSERT_EQ(3u, changes.size());
    EXPECT_EQ(ChangeAction::Added, changes[0].action);
    EXPECT_EQ(L"New.TXT", changes[0].name);
    EXPECT_EQ(L"new.txt", changes[0].lower);
    EXPECT_EQ(ChangeAction::RenamedOldName, changes[1].action);
    EXPECT_EQ(ChangeAction::RenamedNewName, changes[2].action);
    EXPECT_EQ(std::wstring(L"new\u00e9"), changes[2].name);
}

TEST(ChangeRecords, OddRecordsEndTheReadingAndKeepWhatCameBefore) {
    // Empty, shorter than a record's head, a head alone.
    EXPECT_TRUE(ParseChangeRecords(nullptr, 12).empty());
    EXPECT_TRUE(Parse({}).empty());
    EXPECT_TRUE(Parse({1, 0, 0, 0, 2, 0, 0}).empty());
    std::vector<unsigned char> bytes;
    Record(bytes, 0, 2, u"");
    EXPECT_TRUE(Parse(bytes).empty());

    // A name longer than the buffer holds; then one whose last byte is cut.
    bytes.clear();
    Record(bytes, 0, 3, u"abc", 4000);
    EXPECT_TRUE(Parse(bytes).empty());
    bytes.clear();
    Record(bytes, 0, 3, u"abc");
    bytes.pop_back();
    EXPECT_TRUE(Parse(bytes).empty());

    // An odd length takes the whole characters; an unknown action is kept as Other.
    bytes.clear();
    Record(bytes, 0, 9, u"ab", 3);
    ASSERT_EQ(1u, Parse(bytes).size());
    EXPECT_EQ(L"a", Parse(bytes)[0].name);
    EXPECT_EQ(ChangeAction::Other, Parse(bytes)[0].action);

    // A next offset past the end, or so large it would wrap: the first
    // record stands, nothing after it is read. A misaligned one is followed.
    for (std::uint32_t next : {23u, 400u, 0xFFFFFFFCu}) {
        bytes.clear();
        Record(bytes, next, 1, u"a.txt");
        bytes.resize(next == 23u ? 23 : 24);
        Record(bytes, 0, 1, u"b.txt");
        const std::vector<FolderChange> changes = Parse(bytes);
        ASSERT_EQ(next == 23u ? 2u : 1u, changes.size()) << next;
        EXPECT_EQ(L"a.txt", changes[0].name);
    }

    // Zero-length names and names within subfolders are left out, the rest kept.
    bytes.clear();
    Record(bytes, 12, 1, u"");
    Record(bytes, 24, 1, u"sub\\x");  // 12 + 10, padded to 24
    bytes.resize(36);
    Record(bytes, 0, 2, u"x");
    const std::vector<FolderChange> kept = Parse(bytes);
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ(L"x", kept[0].name);
    EXPECT_EQ(ChangeAction::Removed, kept[0].action);
}

}  // namespace
}  // namespace vaultmere
