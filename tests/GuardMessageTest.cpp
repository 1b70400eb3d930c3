#include "channel/GuardMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vaultmere;

namespace {

using Bytes = std::vector<unsigned char>;

std::optional<GuardMessage> Decode(const Bytes& bytes) { return DecodeGuardMessage(bytes.data(), bytes.size()); }

GuardMessage SampleLists() {
    GuardMessage lists;
    lists.kind = GuardMessageKind::Lists;
    ItemStatus waiting;
    waiting.locked = true;
    waiting.filesHeld = 7;
    waiting.filesWaiting = 2;
    waiting.filesDenied = 1;
    waiting.filesFailed = 4;
    waiting.filesOverLimit = 3;
    waiting.linksLeft = 5;
    ItemStatus missing;
    missing.locked = true;
    missing.folder = ItemStatus::Folder::Missing;
    missing.refusal = ItemStatus::Refusal::SystemFolder;
    missing.setByPolicy = true;
    lists.locked = {{L"c:\\data\\**\\*.*", waiting}, {L"d:\\\u00e9t\u00e9 \u4e2d\\*.*", missing}};
    lists.unlocked = {L"\\\\server\\share\\x\\*.*"};
    lists.unlockedRelockAt = {0x01DD6A1B2C3D4E50};
    lists.relocksOnSessionLock = true;
    return lists;
}

}  // namespace

TEST(GuardMessageTest, EveryKindRoundTripsExactly) {
    std::vector<GuardMessage> messages = {
        GuardMessage::Request(GuardMessageKind::Authenticate, L"s\u00e9cret"),
        GuardMessage::Request(GuardMessageKind::Authenticate, L""),
        GuardMessage::Request(GuardMessageKind::ReadLists),
        GuardMessage::Request(GuardMessageKind::LockFolder, std::wstring(kMaxGuardTextUnits, L'x')),
        GuardMessage::Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*"),
        GuardMessage::Request(GuardMessageKind::UnlockForSession, L"c:\\a\\*.*"),
        GuardMessage::Request(GuardMessageKind::RelockItem, L"c:\\a\\*.*"),
        GuardMessage::Request(GuardMessageKind::RemoveItem, L"c:\\a\\*.*"),
        GuardMessage::Request(GuardMessageKind::SetPassword, L"new"),
        GuardMessage::Done(true),
        GuardMessage::Refusal(GuardRefusal::ItemRefused, L"Cannot lock this critical folder!"),
        SampleLists(),
        [] {
            GuardMessage wrong = GuardMessage::Refusal(GuardRefusal::WrongPassword);
            wrong.waitMs = 0x01020304;
            return wrong;
        }(),
        GuardMessage{GuardMessageKind::Lists, L"", 0, {}, {}, {}, false},
    };
    for (const GuardMessage& message : messages) {
        const Bytes bytes = EncodeGuardMessage(message);
        ASSERT_GE(bytes.size(), kGuardHeaderBytes) << static_cast<int>(message.kind);
        const auto decoded = Decode(bytes);
        ASSERT_TRUE(decoded.has_value()) << static_cast<int>(message.kind);
        EXPECT_EQ(message, *decoded);
    }
    // The header as documented: magic, version, kind, body size.
    const Bytes done = EncodeGuardMessage(GuardMessage::Done(true));
    EXPECT_EQ((Bytes{'V', 'M', 'G', 'D', 5, 0, 64, 0, 4, 0, 0, 0, 1, 0, 0, 0}), done);
}

TEST(GuardMessageTest, AnythingButOneWholeMessageOfThisVersionIsRefused) {
    const Bytes good = EncodeGuardMessage(SampleLists());
    ASSERT_FALSE(good.empty());
    // Every truncation, and one byte too many.
    for (std::size_t size = 0; size < good.size(); ++size) {
        EXPECT_FALSE(DecodeGuardMessage(good.data(), size).has_value()) << size;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(Decode(longer).has_value());

    auto changed = [&](std::size_t offset, unsigned char value) {
        Bytes bytes = good;
        bytes[offset] = value;
        return Decode(bytes).has_value();
    };
    EXPECT_FALSE(changed(0, 'X'));   // magic
    EXPECT_FALSE(changed(4, 4));     // the version before, without unlocks for a session
    EXPECT_FALSE(changed(6, 8));     // a kind that does not exist
    EXPECT_FALSE(changed(6, 3));     // a request kind whose fields differ
    EXPECT_FALSE(changed(8, 0));     // body size
    EXPECT_FALSE(changed(12, 200));  // more locked entries than there are bytes
    // Whether a locked session relocks is 0 or 1.
    EXPECT_FALSE(changed(good.size() - 1, 2));

    const Bytes text = EncodeGuardMessage(GuardMessage::Request(GuardMessageKind::LockFolder, L"ab"));
    Bytes withNull = text;
    withNull[16] = 0;  // the first unit of the text
    EXPECT_FALSE(Decode(withNull).has_value());
    Bytes hugeCount = text;
    hugeCount[15] = 0x7F;  // a text count past the limit
    EXPECT_FALSE(Decode(hugeCount).has_value());

    // A status whose folder state, then whose refusal, then whose policy mark is out of range.
    GuardMessage one;
    one.kind = GuardMessageKind::Lists;
    one.locked = {{L"a", ItemStatus()}};
    Bytes status = EncodeGuardMessage(one);
    status[12 + 4 + 4 + 2 + 1] = 9;
    EXPECT_FALSE(Decode(status).has_value());
    status[12 + 4 + 4 + 2 + 1] = 0;
    ASSERT_TRUE(Decode(status).has_value());
    status[12 + 4 + 4 + 2 + 2] = 9;
    EXPECT_FALSE(Decode(status).has_value());
    status[12 + 4 + 4 + 2 + 2] = 0;
    status[12 + 4 + 4 + 2 + 27] = 2;  // set by policy: neither yes nor no
    EXPECT_FALSE(Decode(status).has_value());
}

TEST(GuardMessageTest, MessagesOverTheLimitsAreNotEncoded) {
    EXPECT_TRUE(EncodeGuardMessage(
                    GuardMessage::Request(GuardMessageKind::LockFolder, std::wstring(kMaxGuardTextUnits + 1, L'x')))
                    .empty());
    EXPECT_TRUE(
        EncodeGuardMessage(GuardMessage::Request(GuardMessageKind::LockFolder, std::wstring(L"a\0b", 3))).empty());
    GuardMessage many;
    many.kind = GuardMessageKind::Lists;
    many.unlocked.assign(kMaxGuardListEntries + 1, L"x");
    many.unlockedRelockAt.assign(kMaxGuardListEntries + 1, 0);
    EXPECT_TRUE(EncodeGuardMessage(many).empty());
    // Within the count but past the byte limit.
    GuardMessage big;
    big.kind = GuardMessageKind::Lists;
    big.unlocked.assign(5, std::wstring(kMaxGuardTextUnits, L'x'));
    big.unlockedRelockAt.assign(5, 0);
    EXPECT_TRUE(EncodeGuardMessage(big).empty());
    GuardMessage unknown;
    unknown.kind = static_cast<GuardMessageKind>(99);
    EXPECT_TRUE(EncodeGuardMessage(unknown).empty());
    EXPECT_FALSE(IsGuardRequest(unknown.kind));
}
