#include "guard/ListKeeper.h"

#include "app/GuardBook.h"
#include "locker/ItemPath.h"
#include "tests/support/QuickPasswordHash.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace vaultmere;

namespace {

using Items = std::vector<std::wstring>;

// Counts locks per item as the locking component does: one count for every
// path it takes for the same item.
class CountingLocker : public ItemLocker {
public:
    void SetItemLocked(const Item& item, bool locked) override {
        calls.emplace_back(item.Text(), locked);
        int& count = counts[item.Key()];
        if (locked) {
            ++count;
        } else if (count > 0) {
            --count;
        }
    }
    std::vector<ItemStatus> StatusOf(const std::vector<Item>& items) const override {
        std::vector<ItemStatus> statuses(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            const auto it = counts.find(items[i].Key());
            statuses[i].locked = it != counts.end() && it->second > 0;
            statuses[i].filesHeld = 3;
        }
        return statuses;
    }
    void SetItemsKnown(std::size_t items) override { known = items; }
    int Count(const std::wstring& path) const {
        const auto it = counts.find(MakeItemKey(path).key);
        return it == counts.end() ? 0 : it->second;
    }
    std::map<std::wstring, int> counts;
    std::vector<std::pair<std::wstring, bool>> calls;
    std::size_t known = 0;
};

class MemoryStore : public ListStore {
public:
    long ReadItems(Items& read) override {
        read = items;
        return 0;
    }
    long SaveItems(const Items& saved) override {
        if (failWith == 0 || partly) items = saved;
        return failWith;
    }
    long ReadPassword(std::wstring& read) override {
        read = password;
        return passwordError;
    }
    long SavePassword(const std::wstring& saved) override {
        if (failWith == 0) password = saved;
        return failWith;
    }
    Items items;
    std::wstring password;
    long failWith = 0;
    long passwordError = 0;
    bool partly = false;  // a failing save writes all the same
};

class RefusingGate : public ItemGate {
public:
    std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) override {
        // Connection 3's checks wait until released, as the check of a large tree does.
        if (connection == 3) {
            entered.set_value();
            release.get_future().wait();
        }
        return path.rfind(L"c:\\windows", 0) == 0 ? L"Cannot lock this critical folder!" : L"";
    }
    std::promise<void> entered;
    std::promise<void> release;
};

// Each change reported, as one line: what, by whom, in which session, which item.
class RecordingEvents : public KeeperEvents {
public:
    void Unlocked(const ChangeActor& by, const std::wstring& item) override { Add(L"unlocked", by, item); }
    void Relocked(const ChangeActor& by, const std::wstring& item, RelockCause cause) override {
        const wchar_t* const causes[] = {L"by user", L"window closed", L"session locked", L"time up", L"policy"};
        Add(std::wstring(L"relocked ") + causes[static_cast<int>(cause)], by, item);
    }
    void Locked(const ChangeActor& by, const std::wstring& item) override { Add(L"locked", by, item); }
    void Removed(const ChangeActor& by, const std::wstring& item) override { Add(L"removed", by, item); }
    void PasswordSet(const ChangeActor& by) override { Add(L"password set", by, L"-"); }
    void PolicyApplied(const Items& added, const Items& removed) override {
        std::wstring line = L"policy";
        for (const std::wstring& item : added) line += L" +" + item;
        for (const std::wstring& item : removed) line += L" -" + item;
        lines.push_back(line);
    }
    void PolicyValueUnusable(const std::wstring& value, ItemFault) override { lines.push_back(L"no policy " + value); }
    void StoredItemUnusable(const std::wstring& item, ItemFault) override { lines.push_back(L"no item " + item); }
    void Add(const std::wstring& what, const ChangeActor& by, const std::wstring& item) {
        lines.push_back(what + L" " + by.user + L"@" + (by.session ? std::to_wstring(*by.session) : L"?") + L" " +
                        item);
    }
    Items lines;
};

GuardMessage Request(GuardMessageKind kind, const std::wstring& text = L"") {
    return GuardMessage::Request(kind, text);
}

Items Paths(const std::vector<ListedItem>& listed) {
    Items paths;
    for (const ListedItem& item : listed) paths.push_back(item.item.Text());
    return paths;
}

class ListKeeperTest : public ::testing::Test {
protected:
    ListKeeperTest() {
        // The same folder stored twice, the second time in other case: one item.
        store.items = {L"c:\\a\\*.*", L"c:\\b\\*.*", L"C:\\A\\*.*"};
        store.password = L"secret";
        core.SetEvents(events);
        core.LockStoredItems();
        core.Connect(1, L"S-1");
        core.Connect(2, L"S-2");
    }
    void Authenticate(ConnectionId connection) {
        ASSERT_EQ(GuardMessageKind::Done,
                  core.Handle(connection, Request(GuardMessageKind::Authenticate, L"sECRET")).kind);
    }

    KeeperReply Attempt(ConnectionId connection, const std::wstring& password) {
        return core.Reply(connection, Request(GuardMessageKind::Authenticate, password));
    }

    CountingLocker locker;
    MemoryStore store;
    RefusingGate gate;
    std::uint64_t now = 0;
    QuickPasswordHash hash;
    RecordingEvents events;
    ListKeeper core{locker, store, gate, hash, [this] { return now; }};
};

}  // namespace

TEST_F(ListKeeperTest, NothingIsAnsweredBeforeThePasswordAndEachStoredItemIsLockedOnce) {
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*"}), TextsOf(core.Items()));

    for (GuardMessageKind kind :
         {GuardMessageKind::ReadLists, GuardMessageKind::LockFolder, GuardMessageKind::UnlockItem,
          GuardMessageKind::RelockItem, GuardMessageKind::RemoveItem, GuardMessageKind::SetPassword}) {
        const GuardMessage answer = core.Handle(1, Request(kind, L"c:\\a\\*.*"));
        EXPECT_EQ(GuardMessageKind::Refused, answer.kind);
        EXPECT_EQ(static_cast<std::uint32_t>(GuardRefusal::NotAuthenticated), answer.code);
    }
    for (const wchar_t* wrong : {L"guess", L"secret ", L""}) {
        EXPECT_EQ(static_cast<std::uint32_t>(GuardRefusal::WrongPassword),
                  core.Handle(1, Request(GuardMessageKind::Authenticate, wrong)).code);
    }
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    // Text an administrator stored is taken, and a verifier stored in its place.
    EXPECT_EQ(L"secret", store.password);
    Authenticate(1);
    EXPECT_EQ(StoredPassword::Verifier, KindOfStoredPassword(store.password));
    Authenticate(2);
    // A verifier changed by hand matches nothing; text no one can type is said to be so.
    const std::wstring verifier = store.password;
    wchar_t& unit = store.password[store.password.size() - 10];
    unit = unit == L'A' ? L'B' : L'A';
    EXPECT_EQ(GuardRefusal::WrongPassword,
              static_cast<GuardRefusal>(core.Handle(2, Request(GuardMessageKind::Authenticate, L"secret")).code));
    store.password = L"$pbkdf2-sha256$99999999999$AAAA$AAAA";
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kPasswordUnreadable),
              core.Handle(2, Request(GuardMessageKind::Authenticate, L"secret")));
    for (const wchar_t* untypable : {L"Secret", L"secret123"}) {
        store.password = untypable;
        EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kPasswordUntypable),
                  core.Handle(2, Request(GuardMessageKind::Authenticate, L"secret")));
    }
    store.password = verifier;
    // Another connection is not let in by the first one's password.
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(2, Request(GuardMessageKind::ReadLists)).kind);
    // A wrong password later takes the connection's access away again.
    core.Handle(1, Request(GuardMessageKind::Authenticate, L"guess"));
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(1, Request(GuardMessageKind::ReadLists)).kind);
}

TEST_F(ListKeeperTest, AnUnlockHoldsUntilItsConnectionEndsAndEveryConnectionSeesIt) {
    Authenticate(1);
    Authenticate(2);
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*")));
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    const GuardMessage lists = core.Handle(2, Request(GuardMessageKind::ReadLists));
    ASSERT_EQ(GuardMessageKind::Lists, lists.kind);
    EXPECT_EQ((Items{L"c:\\b\\*.*"}), Paths(lists.locked));
    EXPECT_TRUE(lists.locked[0].status.locked);
    EXPECT_EQ((Items{L"c:\\a\\*.*"}), TextsOf(lists.unlocked));
    // Unlocking what is unlocked, or what is not listed, is refused and changes nothing.
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(2, Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*")).kind);
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(2, Request(GuardMessageKind::UnlockItem, L"c:\\z\\*.*")).kind);
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(2, Request(GuardMessageKind::RelockItem, L"c:\\b\\*.*")).kind);
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));

    core.Disconnect(2);
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    core.Disconnect(1);
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ((Items{L"unlocked S-1@? c:\\a\\*.*", L"relocked window closed S-1@? c:\\a\\*.*"}), events.lines);
    // The stored list never changed for an unlock.
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*", L"C:\\A\\*.*"}), store.items);
    core.ReleaseAll();
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*") + locker.Count(L"c:\\b\\*.*"));
}

TEST_F(ListKeeperTest, ALockedSessionAndTheTimeRelockWhatWasUnlockedAndTheSettingsApplyLive) {
    constexpr std::uint64_t kMinute = 600000000;
    RelockSettings settings;
    std::uint64_t wall = 1000 * kMinute;
    core.SetRelockSource([&] { return settings; }, [&] { return wall; });
    // An entry that locks nothing is reported once, however often it is read.
    for (int read = 0; read < 2; ++read) {
        core.ApplyStoredItems({L"c:\\a\\*.*", L"c:\\b\\*.*", L"c:\\c\\*.*", L"c:\\d\\"});
    }
    EXPECT_EQ((Items{L"no item c:\\d\\"}), events.lines);
    events.lines.clear();
    core.SetSession(1, 5);
    core.SetSession(2, 6);
    for (ConnectionId connection : {1, 2, 3}) Authenticate(connection);
    core.Handle(1, Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*"));
    core.Handle(2, Request(GuardMessageKind::UnlockItem, L"c:\\b\\*.*"));
    core.Handle(3, Request(GuardMessageKind::UnlockItem, L"c:\\c\\*.*"));
    // Only the locked session's own unlocks are locked again (and those of
    // a client of no known session), and only where that is on.
    settings.onSessionLock = false;
    core.LeaveSession(5);
    EXPECT_FALSE(core.Handle(1, Request(GuardMessageKind::ReadLists)).relocksOnSessionLock);
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    settings.onSessionLock = true;
    core.LeaveSession(5);
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ(1, locker.Count(L"c:\\c\\*.*"));
    EXPECT_TRUE(core.IsUnlocked(Item(L"c:\\b\\*.*")));

    // No time set: never; a time set later counts from the unlock, as the lists say.
    wall += 30 * kMinute;
    core.RelockDue();
    EXPECT_EQ((std::vector<std::uint64_t>{0}), core.Handle(1, Request(GuardMessageKind::ReadLists)).unlockedRelockAt);
    core.Handle(1, Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*"));
    settings.minutes = 1;
    const GuardMessage lists = core.Handle(1, Request(GuardMessageKind::ReadLists));
    EXPECT_EQ((Items{L"c:\\b\\*.*", L"c:\\a\\*.*"}), TextsOf(lists.unlocked));
    EXPECT_EQ((std::vector<std::uint64_t>{1001 * kMinute, 1031 * kMinute}), lists.unlockedRelockAt);
    core.RelockDue();
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    // Unlocked again, its time starts again.
    wall += kMinute / 2;
    core.Handle(1, Request(GuardMessageKind::RelockItem, L"c:\\a\\*.*"));
    core.Handle(1, Request(GuardMessageKind::UnlockItem, L"c:\\a\\*.*"));
    wall += kMinute / 2;
    core.RelockDue();
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    wall += kMinute / 2;
    core.RelockDue();
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ((Items{L"unlocked S-1@5 c:\\a\\*.*", L"unlocked S-2@6 c:\\b\\*.*", L"unlocked @? c:\\c\\*.*",
                     L"relocked session locked S-1@5 c:\\a\\*.*", L"relocked session locked @? c:\\c\\*.*",
                     L"unlocked S-1@5 c:\\a\\*.*", L"relocked time up S-2@6 c:\\b\\*.*",
                     L"relocked by user S-1@5 c:\\a\\*.*", L"unlocked S-1@5 c:\\a\\*.*",
                     L"relocked time up S-1@5 c:\\a\\*.*"}),
              events.lines);
}

TEST_F(ListKeeperTest, AnUnlockForTheSessionOutlivesItsConnectionAndAnAdministratorReadsWithoutThePassword) {
    RelockSettings settings;
    core.SetRelockSource([&] { return settings; });
    core.ApplyStoredItems({L"c:\\a\\*.*", L"c:\\b\\*.*", L"c:\\c\\*.*"});
    core.SetSession(1, 5);
    core.SetSession(2, 6);
    for (ConnectionId connection : {1, 2, 3}) Authenticate(connection);
    // Bound to no session, it would outlast every sign-out.
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::ItemRefused, kNoSessionText),
              core.Handle(3, Request(GuardMessageKind::UnlockForSession, L"c:\\a\\*.*")));
    core.Handle(1, Request(GuardMessageKind::UnlockForSession, L"c:\\a\\*.*"));
    core.Handle(2, Request(GuardMessageKind::UnlockForSession, L"c:\\b\\*.*"));
    core.Handle(2, Request(GuardMessageKind::UnlockItem, L"c:\\c\\*.*"));
    core.Disconnect(1);
    core.Disconnect(2);
    EXPECT_TRUE(core.IsUnlocked(Item(L"c:\\a\\*.*")) && core.IsUnlocked(Item(L"c:\\b\\*.*")));
    EXPECT_EQ(1, locker.Count(L"c:\\c\\*.*")) << "a window's unlock ends with its connection";

    core.LeaveSession(5);
    EXPECT_FALSE(core.IsUnlocked(Item(L"c:\\a\\*.*")));
    settings.onSessionLock = false;
    core.LeaveSession(6);
    EXPECT_TRUE(core.IsUnlocked(Item(L"c:\\b\\*.*")));
    // Signed out: locked again whatever the setting.
    core.SessionEnded(6);
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));
    EXPECT_FALSE(core.IsUnlocked(Item(L"c:\\b\\*.*")));

    // An elevated administrator reads the lists without the password, and does nothing else.
    core.Connect(4);
    core.SetAdministrator(4);
    EXPECT_EQ(GuardMessageKind::Lists, core.Handle(4, Request(GuardMessageKind::ReadLists)).kind);
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotAuthenticated),
              core.Handle(4, Request(GuardMessageKind::UnlockForSession, L"c:\\a\\*.*")));
}

TEST_F(ListKeeperTest, ChangesAreSavedAsTheyAreMadeOrNotMadeAtAll) {
    Authenticate(1);
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::LockFolder, L"d:\\new\\*.*")));
    EXPECT_EQ(1, locker.Count(L"d:\\new\\*.*"));
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*", L"d:\\new\\*.*"}), store.items);
    // Listed already, in any case: nothing more is locked or stored.
    EXPECT_EQ(GuardMessage::Done(false), core.Handle(1, Request(GuardMessageKind::LockFolder, L"D:\\New\\*.*")));
    EXPECT_EQ(1, locker.Count(L"d:\\new\\*.*"));
    // Lock Folder on an unlocked item relocks it.
    core.Handle(1, Request(GuardMessageKind::UnlockItem, L"c:\\b\\*.*"));
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::LockFolder, L"c:\\b\\*.*")));
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));

    const GuardMessage refused = core.Handle(1, Request(GuardMessageKind::LockFolder, L"c:\\windows\\system32\\*.*"));
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::ItemRefused, L"Cannot lock this critical folder!"), refused);
    EXPECT_EQ(3u, store.items.size());

    // A store that refuses: the guard's list, the locks and the password stay as they were.
    const std::wstring stored = store.password;
    store.failWith = 5;
    const GuardMessage notSaved = core.Handle(1, Request(GuardMessageKind::LockFolder, L"e:\\x\\*.*"));
    EXPECT_EQ(static_cast<std::uint32_t>(GuardRefusal::NotSaved), notSaved.code);
    EXPECT_FALSE(notSaved.text.empty());
    EXPECT_EQ(0, locker.Count(L"e:\\x\\*.*"));
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(1, Request(GuardMessageKind::RemoveItem, L"c:\\a\\*.*")).kind);
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ(GuardMessageKind::Refused, core.Handle(1, Request(GuardMessageKind::SetPassword, L"new")).kind);
    EXPECT_EQ(3u, TextsOf(core.Items()).size());
    EXPECT_EQ(stored, store.password);

    store.failWith = 0;
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::RemoveItem, L"c:\\a\\*.*")));
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    EXPECT_EQ((Items{L"c:\\b\\*.*", L"d:\\new\\*.*"}), store.items);
    EXPECT_EQ(GuardMessage::Done(false), core.Handle(1, Request(GuardMessageKind::SetPassword, L"new")));
    EXPECT_EQ(StoredPassword::Verifier, KindOfStoredPassword(store.password));
    EXPECT_EQ(GuardMessageKind::Done, core.Handle(2, Request(GuardMessageKind::Authenticate, L"NEW")).kind);

    // Stored by someone else since the guard read the list: a change keeps
    // it, and it is locked.
    store.items.push_back(L"f:\\admin\\*.*");
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::LockFolder, L"g:\\mine\\*.*")));
    EXPECT_EQ((Items{L"c:\\b\\*.*", L"d:\\new\\*.*", L"f:\\admin\\*.*", L"g:\\mine\\*.*"}), store.items);
    EXPECT_EQ(1, locker.Count(L"f:\\admin\\*.*"));
    store.items.push_back(L"h:\\late\\*.*");
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::RemoveItem, L"d:\\new\\*.*")));
    EXPECT_EQ((Items{L"c:\\b\\*.*", L"f:\\admin\\*.*", L"g:\\mine\\*.*", L"h:\\late\\*.*"}), store.items);
    // A save that failed halfway says so, and the list is what is stored.
    store.failWith = 5;
    store.partly = true;
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(5, true)),
              core.Handle(1, Request(GuardMessageKind::LockFolder, L"i:\\half\\*.*")));
    EXPECT_EQ(store.items, TextsOf(core.Items()));
    EXPECT_EQ(1, locker.Count(L"i:\\half\\*.*"));
    // Only what was done is reported; what another writer stored is not the user's.
    EXPECT_EQ((Items{L"locked S-1@? d:\\new\\*.*", L"unlocked S-1@? c:\\b\\*.*", L"relocked by user S-1@? c:\\b\\*.*",
                     L"removed S-1@? c:\\a\\*.*", L"password set S-1@? -", L"locked S-1@? g:\\mine\\*.*",
                     L"removed S-1@? d:\\new\\*.*"}),
              events.lines);
}

TEST_F(ListKeeperTest, ALongCheckOfAFolderKeepsNoOtherRequestWaitingAndTheListIsLookedAtAgainAfterIt) {
    std::mutex lock;
    core.Connect(3);
    Authenticate(1);
    Authenticate(3);
    const GuardMessage slowLock = Request(GuardMessageKind::LockFolder, L"d:\\slow\\*.*");
    auto slow = std::async(std::launch::async, [&] { return ReplyCheckedOutside(core, lock, 3, slowLock); });
    gate.entered.get_future().wait();
    // Another connection is answered meanwhile, and stores the same folder.
    const bool checkHoldsNoLock = lock.try_lock();
    if (checkHoldsNoLock) {
        lock.unlock();
        EXPECT_EQ(GuardMessage::Done(true), ReplyCheckedOutside(core, lock, 1, slowLock).message);
    }
    gate.release.set_value();
    ASSERT_TRUE(checkHoldsNoLock);
    EXPECT_EQ(GuardMessage::Done(false), slow.get().message);
    EXPECT_EQ(1, locker.Count(L"d:\\slow\\*.*"));
    EXPECT_EQ(3u, store.items.size());
}

TEST_F(ListKeeperTest, AWrongPasswordHoldsBackItsUsersNextAnswerOnEveryConnection) {
    EXPECT_EQ(16000u, PasswordThrottle::DelayAfter(5));
    EXPECT_EQ(30000u, PasswordThrottle::DelayAfter(40));

    core.Connect(3, L"S-1-5-21-7");
    core.Connect(4, L"S-1-5-21-7");
    core.Connect(5, L"S-1-5-21-8");
    KeeperReply first = Attempt(3, L"guess");
    EXPECT_EQ(static_cast<std::uint32_t>(GuardRefusal::WrongPassword), first.message.code);
    EXPECT_EQ(0u, first.holdMs);
    // Each wrong answer says how long the next attempt will wait from when it goes.
    EXPECT_EQ(1000u, first.message.waitMs);
    now = 10;
    const KeeperReply second = Attempt(3, L"guess");
    EXPECT_EQ(990u, second.holdMs);
    EXPECT_EQ(2000u, second.message.waitMs);
    // Answered at 1000. The user's other connection waits its turn; another user does not.
    EXPECT_EQ(2990u, Attempt(4, L"guess").holdMs);
    EXPECT_EQ(0u, Attempt(5, L"guess").holdMs);
    // Answered at 3000: a new connection of the same user waits on.
    core.Disconnect(3);
    core.Disconnect(4);
    core.Connect(6, L"S-1-5-21-7");
    now = 3000;
    EXPECT_EQ(4000u, Attempt(6, L"guess").holdMs);
    // The right password waits its turn too, then lets the next one go at once.
    const KeeperReply right = Attempt(6, L"secret");
    EXPECT_EQ(GuardMessage::Done(), right.message);
    EXPECT_EQ(12000u, right.holdMs);
    now = 15000;
    EXPECT_EQ(0u, Attempt(6, L"guess").holdMs);
    EXPECT_EQ(1000u, Attempt(6, L"secret").holdMs);

    // In its windows' own process it slows no one, and a window that closes
    // keeps the password; the guard's Close forgets it.
    EXPECT_EQ(GuardMessage::Done(), core.Handle(6, Request(GuardMessageKind::Close)));
    EXPECT_FALSE(core.IsAuthenticated(6));
    core.ServeOwnProcess();
    const KeeperReply unslowed = Attempt(6, L"guess");
    EXPECT_EQ(0u, unslowed.holdMs);
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::WrongPassword), unslowed.message);
    EXPECT_EQ(0u, Attempt(6, L"secret").holdMs);
    EXPECT_EQ(GuardMessage::Done(), core.Handle(6, Request(GuardMessageKind::Close)));
    EXPECT_TRUE(core.IsAuthenticated(6));
}

TEST_F(ListKeeperTest, APasswordIsHashedOnItsTurnAndOneWhoseConnectionWentOpensNothing) {
    Authenticate(1);
    hash.derived = 0;
    core.Connect(3, L"S-1-5-21-7");
    core.Connect(4, L"S-1-5-21-7");
    PasswordTrial first, second, third;
    ASSERT_FALSE(core.BeginPassword(3, L"guess", first).has_value());
    PasswordVerdict wrong = core.Judge(first);
    EXPECT_EQ(1, hash.derived);
    core.FinishPassword(first, wrong);
    // Sent together: each waits its turn, and nothing is hashed before it.
    ASSERT_FALSE(core.BeginPassword(3, L"secret", second).has_value());
    ASSERT_FALSE(core.BeginPassword(4, L"secret", third).has_value());
    EXPECT_EQ(1000u, second.startAt);
    EXPECT_EQ(3000u, third.startAt);
    EXPECT_EQ(1, hash.derived);
    core.Disconnect(3);
    PasswordVerdict right = core.Judge(second);
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotAuthenticated), core.FinishPassword(second, right).message);
    EXPECT_FALSE(core.IsAuthenticated(3));
    right = core.Judge(third);
    EXPECT_EQ(GuardMessage::Done(), core.FinishPassword(third, right).message);
    EXPECT_TRUE(core.IsAuthenticated(4));
}

TEST_F(ListKeeperTest, TheListStoredAnewIsAppliedAndItemsKeptStayAsTheyWere) {
    const std::wstring a = L"c:\\a\\*.*", b = L"c:\\b\\*.*", c = L"d:\\c\\*.*";
    Authenticate(1);
    ASSERT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::UnlockItem, b)));
    locker.calls.clear();
    // Its own save read back changes nothing.
    EXPECT_FALSE(core.ApplyStoredItems({a, b}));
    EXPECT_TRUE(locker.calls.empty());

    // Added, in the stored order: only the new item is locked; b stays unlocked.
    EXPECT_TRUE(core.ApplyStoredItems({c, b, a, c}));
    EXPECT_EQ((Items{c, b, a}), TextsOf(core.Items()));
    EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{{c, true}}), locker.calls);
    EXPECT_TRUE(core.IsUnlocked(Item(b)));

    // Written again in capitals, as a script may: the same items, neither let
    // go nor locked again, b still unlocked; the lists show the new text.
    locker.calls.clear();
    const std::wstring B = L"C:\\B\\*.*", C = L"D:\\C\\*.*";
    EXPECT_TRUE(core.ApplyStoredItems({C, B, a}));
    EXPECT_TRUE(locker.calls.empty());
    const GuardMessage respelled = core.Handle(1, Request(GuardMessageKind::ReadLists));
    EXPECT_EQ((Items{C, a}), Paths(respelled.locked));
    EXPECT_EQ((Items{B}), TextsOf(respelled.unlocked));
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::RelockItem, b)));
    EXPECT_EQ(1, locker.Count(b));
    ASSERT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::UnlockItem, B)));
    EXPECT_TRUE(core.ApplyStoredItems({c, b, a}));
    EXPECT_TRUE(core.IsUnlocked(Item(b)));
    locker.calls.clear();

    // Gone: a is let go, b leaves the unlocked list; back again, b is locked.
    EXPECT_TRUE(core.ApplyStoredItems({c}));
    EXPECT_EQ(0, locker.Count(a));
    EXPECT_TRUE(core.Handle(1, Request(GuardMessageKind::ReadLists)).unlocked.empty());
    EXPECT_TRUE(core.ApplyStoredItems({c, b}));
    EXPECT_EQ(1, locker.Count(b));
    // Its unlock ended with the list: the connection's end locks nothing twice.
    core.Disconnect(1);
    EXPECT_EQ(1, locker.Count(b));
    EXPECT_EQ(1, locker.Count(c));

    // The policy's items: listed after the stored ones as set by policy, never
    // unlocked, removed or saved; a stored item it names is held once, and
    // locked again where a window unlocked it.
    const std::wstring p = L"e:\\p\\**\\*.*", pc = L"D:\\C\\*.*";
    Authenticate(2);
    ASSERT_EQ(GuardMessage::Done(true), core.Handle(2, Request(GuardMessageKind::UnlockItem, c)));
    const Items saved = store.items;
    events.lines.clear();
    // A folder is read as its files; the policy's change and a value that
    // locks nothing are reported once.
    EXPECT_TRUE(core.ApplyPolicyItems({L"e:\\p\\**", L"D:\\C\\", L"E:\\P\\**\\*.*", L"docs"}));
    EXPECT_FALSE(core.ApplyPolicyItems({p, pc, L"docs"}));
    EXPECT_EQ((Items{L"no policy docs", L"policy +" + p + L" +" + pc, L"relocked policy S-2@? " + c}), events.lines);
    EXPECT_EQ(1, locker.Count(p));
    EXPECT_EQ(1, locker.Count(c));  // pc is the same item: held once
    EXPECT_EQ(3u, locker.known);    // each keeps a share of the locker's room, unlocked or not
    const GuardMessage lists = core.Handle(2, Request(GuardMessageKind::ReadLists));
    // c, relocked, moves to the end of the stored ones.
    ASSERT_EQ((Items{b, c, p}), Paths(lists.locked));
    EXPECT_TRUE(!lists.locked[0].status.setByPolicy && lists.locked[1].status.setByPolicy &&
                lists.locked[2].status.setByPolicy);
    for (const GuardMessageKind kind : {GuardMessageKind::UnlockItem, GuardMessageKind::RemoveItem}) {
        for (const std::wstring& path : {p, c}) {
            EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText),
                      core.Handle(2, Request(kind, path)));
        }
    }
    EXPECT_EQ(GuardMessage::Done(false), core.Handle(2, Request(GuardMessageKind::LockFolder, L"E:\\p\\**\\*.*")));
    EXPECT_EQ(saved, store.items);
    // No longer stored, c is held for the policy; the policy gone, all of it goes.
    EXPECT_TRUE(core.ApplyStoredItems({b}));
    EXPECT_EQ(1, locker.Count(pc));
    EXPECT_EQ((std::pair<std::wstring, bool>{pc, true}), locker.calls.back());
    EXPECT_TRUE(core.ApplyPolicyItems({}));
    EXPECT_EQ(0, locker.Count(p));
    EXPECT_EQ(0, locker.Count(pc));
    EXPECT_EQ(1, locker.Count(b));
    EXPECT_EQ(1u, locker.known);
}

namespace {

// A window copy's connection to the core, through the wire format. Drop()
// is the guard restarting: the connection ends and a new one takes its place.
class CoreLink : public GuardLink {
public:
    CoreLink(ListKeeper& core, ConnectionId id) : core_(core), id_(id) { core_.Connect(id_); }
    std::optional<GuardMessage> Exchange(const GuardMessage& request) override {
        if (down) return std::nullopt;
        if (request.kind == GuardMessageKind::Authenticate && release_.valid()) {
            holding = true;
            release_.wait();
        }
        const std::vector<unsigned char> asked = EncodeGuardMessage(request);
        const auto decoded = DecodeGuardMessage(asked.data(), asked.size());
        const std::vector<unsigned char> answer = EncodeGuardMessage(core_.Handle(id_, *decoded));
        return DecodeGuardMessage(answer.data(), answer.size());
    }
    std::wstring Problem() const override { return std::wstring(); }
    // Holds every password's answer back until let go, as the guard does
    // after wrong ones; holding says one is held.
    void HoldPasswords(std::shared_future<void> release) { release_ = std::move(release); }
    std::atomic<bool> holding{false};
    void Drop() {
        core_.Disconnect(id_);
        id_ += 1000;
        core_.Connect(id_);
    }
    bool down = false;

private:
    ListKeeper& core_;
    ConnectionId id_;
    std::shared_future<void> release_;
};

}  // namespace

TEST_F(ListKeeperTest, WindowsInTwoSessionsShareOneListAndARenewedConnectionGivesThePasswordAgain) {
    CoreLink firstLink{core, 10};
    CoreLink secondLink{core, 20};
    GuardBook first{firstLink};
    GuardBook second{secondLink};

    EXPECT_FALSE(first.CheckPassword(L"wrong").accepted);
    EXPECT_FALSE(first.Reload());
    ASSERT_TRUE(first.CheckPassword(L"secret").accepted);
    EXPECT_TRUE(first.Reload());
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*"}), first.lockedList.Texts());
    ASSERT_EQ(2u, first.LockedStatus().size());
    EXPECT_EQ(3u, first.LockedStatus()[1].filesHeld);

    first.lockedList.SetListIndex(1);
    EXPECT_TRUE(first.UnlockSelected().changed);
    EXPECT_EQ(0, locker.Count(L"c:\\b\\*.*"));
    EXPECT_EQ((Items{L"c:\\b\\*.*"}), first.unlockedList.Texts());

    // The other session sees the unlock; what the guard refuses is said.
    ASSERT_TRUE(second.CheckPassword(L"SECRET").accepted);
    EXPECT_TRUE(second.Reload());
    EXPECT_EQ((Items{L"c:\\b\\*.*"}), second.unlockedList.Texts());
    const BookResult refused = second.LockNewItem(L"c:\\windows\\*.*", nullptr);
    EXPECT_FALSE(refused.changed);
    EXPECT_EQ(L"Cannot lock this critical folder!", refused.message);

    // The guard restarted: the unlock ends with the old connection, and the
    // window reads the list on a new one without asking the user again.
    first.lockedList.SetListIndex(0);
    firstLink.Drop();
    EXPECT_EQ(1, locker.Count(L"c:\\b\\*.*"));
    EXPECT_TRUE(first.Reload());
    EXPECT_TRUE(first.unlockedList.Entries().empty());
    EXPECT_EQ(L"c:\\a\\*.*", first.lockedList.SelectedText());

    // No guard to ask: nothing changes and the user is told.
    firstLink.down = true;
    const BookResult unanswered = first.UnlockSelected();
    EXPECT_FALSE(unanswered.changed);
    EXPECT_EQ(kGuardNotAnswering, unanswered.message);
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));

    // A new password set in one session is the one the guard asks for.
    EXPECT_TRUE(second.SetPassword(L"other").message.empty());
    EXPECT_EQ(StoredPassword::Verifier, KindOfStoredPassword(store.password));
    firstLink.down = false;
    firstLink.Drop();
    EXPECT_FALSE(first.Reload());
    EXPECT_TRUE(first.CheckPassword(L"other").accepted);

    // While the guard holds a password's answer back, a window's reads and
    // commands do not wait behind it: they are refused as busy.
    std::promise<void> release;
    firstLink.HoldPasswords(release.get_future().share());
    std::thread check([&first] { EXPECT_TRUE(first.CheckPassword(L"other").accepted); });
    while (!firstLink.holding) std::this_thread::yield();
    EXPECT_FALSE(first.Reload());
    first.lockedList.SetListIndex(0);
    const BookResult busy = first.UnlockSelected();
    EXPECT_FALSE(busy.changed);
    EXPECT_EQ(kGuardBusy, busy.message);
    EXPECT_EQ(1, locker.Count(L"c:\\a\\*.*"));
    release.set_value();
    check.join();
    EXPECT_TRUE(first.UnlockSelected().changed);
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));

    // The window closed: the next command needs the password again, on this
    // connection and on one made anew; what it unlocked stays unlocked.
    first.Forget();
    EXPECT_FALSE(first.Reload());
    EXPECT_EQ(0, locker.Count(L"c:\\a\\*.*"));
    firstLink.Drop();
    EXPECT_FALSE(first.Reload());

    // A stored password that cannot be read takes none, and the prompt says so.
    store.passwordError = 5;
    const PasswordCheck unreadable = first.CheckPassword(L"other");
    EXPECT_FALSE(unreadable.accepted);
    EXPECT_EQ(kPasswordUnreadable, unreadable.message);
    EXPECT_EQ(kPasswordUnreadable, first.Notice());
    EXPECT_FALSE(first.CheckPassword(L"").accepted);
    EXPECT_FALSE(first.Reload());
    store.passwordError = 0;
    EXPECT_TRUE(first.CheckPassword(L"other").accepted);
    EXPECT_EQ(L"", first.Notice());
}

TEST_F(ListKeeperTest, ADriveBeingRemovedLetsItsFilesGoAndTheItemsStayListedUntilItStaysOrIsGone) {
    Authenticate(1);
    for (const wchar_t* path : {L"e:\\x\\*.*", L"e:\\*.*", L"e:\\y\\*.*"}) {
        ASSERT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::LockFolder, path)));
    }
    core.Handle(1, Request(GuardMessageKind::UnlockItem, L"e:\\*.*"));
    locker.calls.clear();

    core.ReleaseItems(ItemsOnVolume(core.Items(), L"E:\\", {L"c:\\", L"e:\\"}));
    // Only what was held is let go, once; the unlocked item is not unlocked twice.
    EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{{L"e:\\x\\*.*", false}, {L"e:\\y\\*.*", false}}),
              locker.calls);
    GuardMessage lists = core.Handle(1, Request(GuardMessageKind::ReadLists));
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*", L"e:\\x\\*.*", L"e:\\y\\*.*"}), Paths(lists.locked));
    EXPECT_EQ(ItemStatus::Folder::Present, lists.locked[0].status.folder);
    EXPECT_TRUE(lists.locked[2].status.locked);
    EXPECT_EQ(ItemStatus::Folder::Unreachable, lists.locked[2].status.folder);
    EXPECT_EQ(0u, lists.locked[2].status.filesHeld);

    // While the drive goes: relocking, unlocking and removing its items
    // change the lists and the store but touch none of its files.
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::RelockItem, L"e:\\*.*")));
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::UnlockItem, L"e:\\y\\*.*")));
    EXPECT_EQ(GuardMessage::Done(true), core.Handle(1, Request(GuardMessageKind::RemoveItem, L"e:\\x\\*.*")));
    EXPECT_EQ(2u, locker.calls.size());
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*", L"e:\\*.*", L"e:\\y\\*.*"}), store.items);
    lists = core.Handle(1, Request(GuardMessageKind::ReadLists));
    EXPECT_EQ((Items{L"c:\\a\\*.*", L"c:\\b\\*.*", L"e:\\*.*"}), Paths(lists.locked));
    EXPECT_EQ(ItemStatus::Folder::Unreachable, lists.locked[2].status.folder);

    // The removal is called off: what is listed as locked is locked again, once.
    core.RestoreItems(ItemsOnVolume(core.Items(), L"e:\\", {}));
    EXPECT_EQ(0, locker.Count(L"e:\\y\\*.*"));
    core.RestoreItems(ItemsOf({L"e:\\*.*"}));
    EXPECT_EQ(1, locker.Count(L"e:\\*.*"));
    lists = core.Handle(1, Request(GuardMessageKind::ReadLists));
    EXPECT_EQ(ItemStatus::Folder::Present, lists.locked[2].status.folder);

    // Released again and the service stops: nothing let go twice.
    core.ReleaseItems(ItemsOf({L"e:\\*.*", L"z:\\not-listed\\*.*"}));
    EXPECT_EQ(0, locker.Count(L"e:\\*.*"));
    EXPECT_EQ(0, locker.Count(L"z:\\not-listed\\*.*"));
    locker.calls.clear();
    core.Disconnect(1);
    EXPECT_EQ(1, locker.Count(L"e:\\y\\*.*"));
    core.ReleaseAll();
    EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{
                  {L"e:\\y\\*.*", true}, {L"c:\\a\\*.*", false}, {L"c:\\b\\*.*", false}, {L"e:\\y\\*.*", false}}),
              locker.calls);
}

TEST(ItemsOnVolume, AnItemLiesOnTheDeepestMountPointAboveItsFolder) {
    const std::vector<Item> items = ItemsOf({L"e:\\*.*", L"E:\\Data\\*.*", L"c:\\mnt\\usb\\x\\*.*",
                                             L"c:\\mnt\\usbx\\*.*", L"c:\\mnt\\usb\\*.*", L"\\\\server\\e\\*.*",
                                             L"relative\\*.*", L"e:\\one.txt", L"ee:\\*.*"});
    const Items roots = {L"c:\\", L"C:\\Mnt\\USB\\", L"e:\\"};
    EXPECT_EQ((Items{L"e:\\*.*", L"E:\\Data\\*.*", L"e:\\one.txt"}), TextsOf(ItemsOnVolume(items, L"E:\\", roots)));
    EXPECT_EQ((Items{L"c:\\mnt\\usb\\x\\*.*", L"c:\\mnt\\usb\\*.*"}),
              TextsOf(ItemsOnVolume(items, L"c:\\mnt\\usb", roots)));
    EXPECT_EQ((Items{L"c:\\mnt\\usbx\\*.*"}), TextsOf(ItemsOnVolume(items, L"c:\\", roots)));
    // Without the deeper mount point known, its items count as the drive's.
    EXPECT_EQ(3u, ItemsOnVolume(items, L"c:\\", {}).size());
    EXPECT_TRUE(ItemsOnVolume(items, L"\\\\server\\e\\", roots).empty());
    EXPECT_TRUE(ItemsOnVolume(items, L"", roots).empty());
}
