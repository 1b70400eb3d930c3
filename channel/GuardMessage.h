#pragma once
// The messages between a window copy and the guard service, and their wire
// format. No Windows headers: this also builds on Linux, where it is tested
// and fuzzed.
//
// A message is a 12-byte header and a body, all integers little-endian:
//   "VMGD" | version u16 | kind u16 | body size u32 | body
// Text is a u32 count of UTF-16 code units and the units; a list is a u32
// count and its entries. The body holds exactly the fields of its kind, in
// the order below; anything else (another version, trailing bytes, a count
// past the limits, a null character in text) does not decode.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "locker/Item.h"
#include "locker/ItemLocker.h"

namespace vaultmere {

// 2: a status counts the files left open past a tree's limit.
// 3: a status says whether an administrator's policy set the item and how
//    many links inside it were left alone; the
//    lists say when each unlocked item locks itself again, and whether a
//    locked session locks them.
// 4: a refusal says how long until another password is checked at once.
// 5: an item may be unlocked for the client's session, past its connection
//    (the command line).
constexpr std::uint16_t kGuardProtocolVersion = 5;
// One connection of a window copy to the guard, numbered by the guard.
using ConnectionId = std::uint64_t;
constexpr std::size_t kGuardHeaderBytes = 12;
// What one pipe message may hold: a list of the largest count of the
// longest paths does not fit, a list of thousands of ordinary ones does.
constexpr std::size_t kMaxGuardMessageBytes = 4u << 20;
// The longest text: past the longest path Windows accepts, so that a stored
// entry longer than any path is still listed, and can be removed, as it
// is stored. The longest list the guard serves.
constexpr std::size_t kMaxGuardTextUnits = 1u << 19;
constexpr std::size_t kMaxGuardListEntries = 10000;

enum class GuardMessageKind : std::uint16_t {
    // Requests, each with text unless said otherwise.
    Authenticate = 1,  // the password as typed
    ReadLists = 2,     // no fields; the one request an elevated administrator may make without the password
    LockFolder = 3,    // an item path
    UnlockItem = 4,
    RelockItem = 5,
    RemoveItem = 6,
    SetPassword = 7,        // the new password
    Leave = 8,              // no fields: the window closed; the password is asked for again
    Close = 9,              // no fields: Leave by the window's Close, which saves what the keeper
                            // keeps back for it (the guard saves each change at once)
    UnlockForSession = 10,  // an item path: unlocked until relocked, the session is locked (where that
                            // relocks) or signed out, or its time is up; not when the connection ends
    // Answers.
    Done = 64,     // code: 1 when the lists changed
    Refused = 65,  // code (a GuardRefusal), text for the user, and the wait (u32 ms)
    Lists = 66,    // the locked items with their status, the unlocked items each with its
                   // relock time (u64), then whether a locked session relocks (u8)
};

enum class GuardRefusal : std::uint32_t {
    NotAuthenticated = 1,
    WrongPassword = 2,
    NotOnList = 3,
    ItemRefused = 4,  // a path the guard will not lock; the text says why
    NotSaved = 5,     // the registry refused the change; the text says why
    TooLarge = 6,     // the answer would not fit in a message
    UnknownRequest = 7,
    SetByPolicy = 8,         // an item of an administrator's policy stays; the text says so
    PasswordUnreadable = 9,  // the stored password cannot be read; the text says why
    KeptUnsaved = 10,        // the change holds until the keeper ends but was not saved; the text says why
};

struct ListedItem {
    Item item;
    ItemStatus status;
    bool operator==(const ListedItem& other) const;
};

struct GuardMessage {
    GuardMessageKind kind = GuardMessageKind::ReadLists;
    std::wstring text;
    std::uint32_t code = 0;
    std::vector<ListedItem> locked;
    std::vector<Item> unlocked;
    // Lists: when each unlocked item locks itself again, as a UTC file
    // time, 0 for never; as many as unlocked.
    std::vector<std::uint64_t> unlockedRelockAt;
    bool relocksOnSessionLock = false;
    // Refused: how long, in milliseconds, the password's next attempt
    // waits before it is checked; 0 when it is checked at once.
    std::uint32_t waitMs = 0;

    bool operator==(const GuardMessage& other) const;
    bool operator!=(const GuardMessage& other) const { return !(*this == other); }

    static GuardMessage Request(GuardMessageKind kind, std::wstring text = std::wstring());
    static GuardMessage Refusal(GuardRefusal why, std::wstring text = std::wstring());
    static GuardMessage Done(bool listsChanged = false);
};

bool IsGuardRequest(GuardMessageKind kind);

// The bytes of one message; empty when the message is over the limits
// (then nothing partial is ever sent).
std::vector<unsigned char> EncodeGuardMessage(const GuardMessage& message);

// Reads one whole message; nothing when the bytes are not exactly one
// well-formed message of this version. Never reads past size.
std::optional<GuardMessage> DecodeGuardMessage(const unsigned char* data, std::size_t size);

}  // namespace vaultmere
