#pragma once
// The one keeper of the list and its rules, without a pipe or a service
// around it: the list of locked items, what counts as one item, which
// connection has given the password, which items a connection has unlocked,
// and the answer to each request. The guard service runs it for the whole
// machine, saving each change as it is made; a copy of the program with no
// guard runs it in its own process, saving the list at the window's Close
// (its ListStore keeps the list back until then). It holds the locks through
// an ItemLocker. Not thread-safe: its owner calls it under one lock, Check
// aside.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "channel/GuardMessage.h"
#include "common/AppState.h"
#include "common/PasswordVerifier.h"
#include "common/RelockSchedule.h"
#include "common/SecureText.h"
#include "guard/PasswordThrottle.h"
#include "locker/Item.h"
#include "locker/ItemLocker.h"
#include "locker/ItemPath.h"

namespace vaultmere {

// Where the list and the password are kept between runs (the registry).
// Codes are Win32 error codes, 0 for success.
class ListStore {
public:
    virtual ~ListStore() = default;
    // A list that is not there is an empty one.
    virtual long ReadItems(std::vector<std::wstring>& items) = 0;
    virtual long SaveItems(const std::vector<std::wstring>& items) = 0;
    // A password that is not there is "": none. Any other failure means it
    // could not be read, and then no password is taken.
    virtual long ReadPassword(std::wstring& password) = 0;
    virtual long SavePassword(const std::wstring& password) = 0;
    // Saves what was kept back for the window's Close; a store that saves
    // at once has nothing to do.
    virtual long Commit() { return 0; }
    // Whether a password that could not be saved is taken all the same
    // until the process ends.
    virtual bool KeepsUnsaved() const { return false; }
    // The system's words for a code, to be shown inside a sentence.
    virtual std::wstring ErrorWords(long code) const { return L"error " + std::to_wstring(code); }
};

// The checks of a path a window asks to lock that need the system: system
// folders, the guard's own folder, whether the asking user may list the
// folder. Returns the text that tells the user why, or "" to accept. Stored
// items are not asked about: the locker refuses and notes those itself.
class ItemGate {
public:
    virtual ~ItemGate() = default;
    virtual std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) = 0;
    // As RefusalFor, and the folder approved, as read from what was checked.
    virtual std::wstring Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) {
        approved = ApprovedFolder();
        return RefusalFor(connection, path);
    }
};

// The gate's verdict on a path, asked before the keeper is: "" accepts.
struct ItemCheck {
    std::wstring path;
    std::wstring refusal;
    ApprovedFolder approved;
};

// An answer and how long it is held back before it is sent.
struct KeeperReply {
    GuardMessage message;
    std::uint64_t holdMs = 0;
};

// A password given, to be checked against the stored one as it was read,
// no sooner than startAt (the throttle's turn). Its text is wiped when it
// goes.
struct PasswordTrial {
    PasswordTrial() = default;
    PasswordTrial(const PasswordTrial&) = default;
    PasswordTrial& operator=(const PasswordTrial&) = default;
    PasswordTrial(PasswordTrial&&) = default;
    PasswordTrial& operator=(PasswordTrial&&) = default;
    ~PasswordTrial() { WipeText(entry); }
    ConnectionId connection = 0;
    std::wstring entry;
    std::wstring stored;
    std::uint64_t startAt = 0;
};

// What checking a trial found: whether it was right, and the verifier to
// store in place of a stored password kept as text.
struct PasswordVerdict {
    bool right = false;
    std::wstring verifier;
};

// Who made a change: the client's user (its SID as text, "" when not
// known) and the session its client runs in.
struct ChangeActor {
    std::wstring user;
    std::optional<std::uint32_t> session;
};

// Why an unlocked item was locked again.
enum class RelockCause {
    ByUser,         // Relock Item, or Lock Folder on it
    WindowClosed,   // the connection that unlocked it ended
    SessionLocked,  // its session was locked or left to others
    TimeUp,         // its relock time passed
    Policy,         // the administrator's policy now names it
};

// What the keeper reports of each change it makes, for an audit trail; the
// guard writes them to the event log. Reported under the keeper's lock.
class KeeperEvents {
public:
    virtual ~KeeperEvents() = default;
    virtual void Unlocked(const ChangeActor& /*by*/, const std::wstring& /*item*/) {}
    // by: who asked, or for the other causes who had unlocked it.
    virtual void Relocked(const ChangeActor& /*by*/, const std::wstring& /*item*/, RelockCause /*cause*/) {}
    virtual void Locked(const ChangeActor& /*by*/, const std::wstring& /*item*/) {}
    virtual void Removed(const ChangeActor& /*by*/, const std::wstring& /*item*/) {}
    virtual void PasswordSet(const ChangeActor& /*by*/) {}
    // The policy's items that came and went, each time its list changes.
    virtual void PolicyApplied(const std::vector<std::wstring>& /*added*/,
                               const std::vector<std::wstring>& /*removed*/) {}
    // A value that locks nothing; once for as long as it stays.
    virtual void PolicyValueUnusable(const std::wstring& /*value*/, ItemFault /*why*/) {}
    virtual void StoredItemUnusable(const std::wstring& /*item*/, ItemFault /*why*/) {}
};

class ListKeeper {
public:
    // Milliseconds of a steady clock.
    using Clock = std::function<std::uint64_t()>;
    static std::uint64_t SteadyMilliseconds();

    ListKeeper(ItemLocker& locker, ListStore& store, ItemGate& gate, PasswordHash& hash,
               Clock clock = &ListKeeper::SteadyMilliseconds)
        : locker_(locker), store_(store), gate_(gate), hash_(hash), clock_(std::move(clock)) {}
    ListKeeper(const ListKeeper&) = delete;
    ListKeeper& operator=(const ListKeeper&) = delete;

    // The keeper runs in its windows' own process, where whoever could use
    // a password could read its memory: wrong passwords are not slowed
    // down, and a window that leaves keeps the password given.
    void ServeOwnProcess() { ownProcess_ = true; }
    // Where changes are reported; by default nowhere.
    void SetEvents(KeeperEvents& events) { events_ = &events; }

    // Reads the stored list and locks each item once, in order.
    void LockStoredItems();
    // Unlocks everything (the service stopping).
    void ReleaseAll();

    // A drive is about to go: these listed items let their files go and
    // stay on the list, shown as not reachable, until RestoreItems.
    void ReleaseItems(const std::vector<Item>& items);
    // The removal was called off, or the drive is gone: the locker takes
    // these items again (a drive that is gone is noted and waited for).
    void RestoreItems(const std::vector<Item>& items);

    // The list as it is stored now, changed by someone else (an
    // administrator, a deployment): items added are locked, items gone are
    // let go, and the others stay as they are, unlocked ones too: an item
    // written again in other case or another way is the same item, only
    // shown as now written. Returns whether the list changed.
    bool ApplyStoredItems(const std::vector<std::wstring>& stored);

    // The values of an administrator's policy, as read now: each a folder
    // or an item (ItemOfPolicyValue); a value that is neither is reported
    // and locks nothing. Each item is locked and listed like a stored one,
    // shown as set by policy, and never unlocked, removed or saved into the
    // stored list; a stored item the policy names too is held once, as the
    // stored one. Returns whether the lists changed.
    bool ApplyPolicyItems(const std::vector<std::wstring>& policy);

    // user: who the client is (its SID); wrong passwords slow down a user,
    // not a connection.
    void Connect(ConnectionId connection, const std::wstring& user = std::wstring());
    // The client is an elevated administrator: it may read the lists
    // without the password, as it may read the stored list's key; nothing more.
    void SetAdministrator(ConnectionId connection) { administrators_.insert(connection); }
    // The items this connection unlocked are locked again; those it unlocked
    // for its session stay unlocked.
    void Disconnect(ConnectionId connection);

    // Where the relock settings come from, asked afresh each time so that a
    // change applies at once, and the clock of relock times (UTC file times).
    void SetRelockSource(std::function<RelockSettings()> settings, Clock wallClock = &UtcFileTimeNow);
    // The session a connection's client runs in.
    void SetSession(ConnectionId connection, std::uint32_t session) { sessions_[connection] = session; }
    // The session was locked or left to others: what its connections (and
    // those of no known session) unlocked, also for the session, is locked
    // again, where that is on.
    void LeaveSession(std::uint32_t session);
    // The session was signed out: the same is locked again, whatever the settings.
    void SessionEnded(std::uint32_t session);
    // The unlocked items whose time is up are locked again.
    void RelockDue();

    // The answer to one decoded request from a connection, and how long it
    // waits: only a password's answer ever waits (see PasswordThrottle).
    // checked: the gate's verdict on the request's path, taken before the
    // call; the lists are looked at again all the same, and the gate is
    // asked now when the verdict is missing or for another path.
    KeeperReply Reply(ConnectionId connection, const GuardMessage& request,
                      const std::optional<ItemCheck>& checked = std::nullopt);
    // Whether the request is a Lock Folder that the gate must check as
    // things stand. The check itself (Check) reads nothing of the keeper, so
    // the service runs it without its lock: it may list a whole tree.
    bool NeedsCheck(ConnectionId connection, const GuardMessage& request) const;
    ItemCheck Check(ConnectionId connection, const std::wstring& path) const {
        ItemCheck check{path, std::wstring(), ApprovedFolder()};
        check.refusal = gate_.Approve(connection, path, check.approved);
        return check;
    }
    GuardMessage Handle(ConnectionId connection, const GuardMessage& request) {
        return Reply(connection, request).message;
    }
    // A password check in three steps, so that the slow hash runs after the
    // throttle's wait and outside the keeper's lock. BeginPassword reads the
    // stored password and books the attempt's turn: the answer at once when
    // there is nothing to check (it cannot be read or typed), else the trial.
    std::optional<KeeperReply> BeginPassword(ConnectionId connection, const std::wstring& entry, PasswordTrial& trial);
    // Any thread, at or after trial.startAt: reads nothing of the keeper.
    PasswordVerdict Judge(const PasswordTrial& trial) const;
    // The answer; a right entry of a password stored as text stores its
    // verifier instead, unless the stored one changed meanwhile.
    KeeperReply FinishPassword(const PasswordTrial& trial, PasswordVerdict& verdict);
    // The verifier of a new password, made outside the keeper's lock; ""
    // when the system could not make one.
    std::wstring MakeVerifier(const std::wstring& password) const { return MakePasswordVerifier(hash_, password); }
    // Set Password with its verifier made beforehand.
    GuardMessage StoreVerifier(ConnectionId connection, const std::wstring& verifier);

    const std::wstring& UserOf(ConnectionId connection) const;
    bool IsAuthenticated(ConnectionId connection) const { return authenticated_.count(connection) != 0; }

    const std::vector<Item>& Items() const { return items_; }
    // Every item the locker is asked to hold: the stored ones and the
    // policy's own.
    std::vector<Item> ListedItems() const;
    bool IsUnlocked(const Item& item) const { return unlockedBy_.count(item) != 0; }
    bool IsReleased(const Item& item) const { return released_.count(item) != 0; }

private:
    GuardMessage Lists() const;
    GuardMessage LockFolder(ConnectionId connection, const std::wstring& path, const std::optional<ItemCheck>& checked);
    // The stored entry of item, or items_.end().
    std::vector<Item>::const_iterator ListedAs(const Item& item) const;
    // forSession: the item stays unlocked past the connection, until its
    // session is left or ends (UnlockForSession).
    GuardMessage Unlock(ConnectionId connection, const Item& asked, bool forSession);
    // The unlocked items of the connections of session (and of those of no
    // known session), and those unlocked for session.
    std::vector<Item> UnlockedInSession(std::uint32_t session) const;
    GuardMessage Relock(const Item& asked, RelockCause cause, const ChangeActor& by);
    ChangeActor ActorOf(ConnectionId connection) const;
    // Who unlocked the item.
    ChangeActor UnlockerOf(const Item& item) const;
    // Reports the entries of values that lock nothing and were not reported
    // before; reported keeps those reported, for as long as they stay.
    void ReportUnusable(const std::vector<std::wstring>& values, bool policy, std::set<std::wstring>& reported);
    GuardMessage Remove(ConnectionId connection, const Item& asked);
    // Takes the list as it is stored now, so that a change saved after it
    // keeps what others wrote since the list was last read; false, with the
    // refusal, when it cannot be read.
    bool TakeStored(GuardMessage& refusal);
    // Saves items as the new list. On failure the list is what is stored
    // then, and the refusal says whether part of the change was written.
    bool Save(const std::vector<Item>& items, GuardMessage& refusal);
    bool OnList(const Item& item) const { return ListedAs(item) != items_.end(); }
    bool SetByPolicy(const Item& item) const;
    // The policy's items that no item of stored stands for: held as they are.
    std::vector<Item> PolicyOnly(const std::vector<Item>& stored) const;
    // The policy's own items change from before to after: LetGo lets those
    // gone go, Hold locks those new.
    void LetGo(const std::vector<Item>& before, const std::vector<Item>& after);
    void Hold(const std::vector<Item>& before, const std::vector<Item>& after);
    // Whether the locker holds the item now: listed, not unlocked, not released.
    bool Held(const Item& item) const { return !IsUnlocked(item) && !IsReleased(item); }
    // Tells the locker how many items are listed, so that each, locked or
    // not, has its share of what it may hold kept for it.
    void ReserveShares();

    ItemLocker& locker_;
    ListStore& store_;
    ItemGate& gate_;
    PasswordHash& hash_;
    std::vector<Item> items_;   // the stored list, each item once, as stored
    std::vector<Item> policy_;  // the policy's items, each once
    // Who keeps an unlocked item unlocked: the connection that unlocked it,
    // or the session it was unlocked for.
    struct UnlockOwner {
        ConnectionId connection = 0;
        bool forSession = false;
        std::uint32_t session = 0;  // for the session's own
        ChangeActor by;             // who unlocked it, kept past its connection
    };
    std::vector<Item> unlockedOrder_;         // unlocked items, as the windows list them
    std::map<Item, UnlockOwner> unlockedBy_;  // who keeps each unlocked item unlocked
    std::set<Item> released_;                 // items whose drive is being removed
    std::set<ConnectionId> authenticated_;
    std::set<ConnectionId> administrators_;
    std::set<ConnectionId> checking_;                 // with a password check begun and not finished
    std::map<ConnectionId, std::wstring> connected_;  // each with its user
    PasswordThrottle throttle_;
    bool ownProcess_ = false;
    // Relock Item and Lock Folder move an item to the end of the locked
    // list, as the windows show it: the order of each move.
    std::map<Item, std::uint64_t> movedToEnd_;
    std::uint64_t moves_ = 0;
    Clock clock_;
    std::map<ConnectionId, std::uint32_t> sessions_;
    RelockSchedule relockSchedule_;
    std::function<RelockSettings()> relockSettings_ = [] { return RelockSettings(); };
    Clock wallClock_ = &UtcFileTimeNow;
    KeeperEvents noEvents_;
    KeeperEvents* events_ = &noEvents_;
    std::set<std::wstring> unusablePolicy_;  // values reported as locking nothing
    std::set<std::wstring> unusableStored_;
};

// One request answered by a keeper that lock guards, from any thread; then
// runs under the lock too, after the answer. The gate's check of a Lock
// Folder runs outside the lock, so that a check listing a whole tree keeps
// no caller on another thread waiting (the service's device events, relocks
// and store watch, and the pipe, which runs such a request on a worker).
KeeperReply ReplyCheckedOutside(ListKeeper& keeper, std::mutex& lock, ConnectionId connection,
                                const GuardMessage& request,
                                const std::function<void(const KeeperReply&)>& then = nullptr);

// What a window is told when it asks to unlock or remove a policy's item.
constexpr wchar_t kSetByPolicyText[] =
    L"This folder is set by your administrator's policy: it stays locked and cannot be removed here. Nothing was "
    L"changed.";

// What an unlock for the session is told when the client's session is not known.
constexpr wchar_t kNoSessionText[] =
    L"Vaultmere Guard cannot tell which session this program runs in, so it unlocks nothing for it. Nothing was "
    L"changed.";

// What a window is told when the list could not be saved; partly: some of
// the change was written all the same.
std::wstring NotSavedText(long code, bool partly = false);

// The items that lie on the volume mounted at volumeRoot (e:\, or a folder
// such as c:\mnt\usb\), in list order. An item under a deeper
// mount point of volumeRoots lies on that volume instead. Compared without
// regard to case; shares and paths that are not paths lie on no volume.
std::vector<Item> ItemsOnVolume(const std::vector<Item>& items, const std::wstring& volumeRoot,
                                const std::vector<std::wstring>& volumeRoots);

}  // namespace vaultmere
