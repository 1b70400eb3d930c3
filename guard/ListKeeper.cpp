#include "guard/ListKeeper.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <set>
#include <unordered_set>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

constexpr long kAccessDenied = 5;

void Erase(std::vector<Item>& list, const Item& item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

bool Contains(const std::vector<Item>& list, const Item& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool SameTexts(const std::vector<Item>& left, const std::vector<Item>& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](const Item& l, const Item& r) { return l.SameText(r); });
}

// The entries of list that items also hold take the spelling items gives them.
void Respell(std::vector<Item>& list, const std::vector<Item>& items) {
    for (Item& entry : list) {
        const auto found = std::find(items.begin(), items.end(), entry);
        if (found != items.end()) entry = *found;
    }
}

// What the user is told when a new password could not be saved; kept: it
// is taken all the same until the process ends.
std::wstring PasswordNotSavedText(long code, bool kept, const std::wstring& words) {
    if (!kept) {
        if (code == kAccessDenied) return L"The guard may not change the stored password. Nothing was changed.";
        return L"The password could not be saved (" + words + L"). Nothing was changed.";
    }
    if (code == kAccessDenied) {
        return L"Only an administrator can change the password. Your new password stays until Vaultmere ends.";
    }
    return L"The password could not be saved (" + words + L"). It will only be used until the program ends.";
}

// What the window's Close is told when the list kept back for it could not
// be saved; the items stay as they are.
std::wstring ClosingNotSavedText(long code, const std::wstring& words) {
    if (code == kAccessDenied) {
        return L"Only an administrator can change the list of locked items. Your changes stay until Vaultmere ends.";
    }
    return L"The list of locked items could not be saved: " + words +
           L"\r\n\r\nThe items stay locked until the program ends, but the changes will not be there at the next "
           L"start.";
}

// A mount point lower-cased and ending in one backslash; "" for anything
// that is not a local absolute folder.
std::wstring MountPoint(const std::wstring& root) {
    const ItemTarget target = ParseItemPath(JoinPath(root, L"*.*"));
    if (target.kind == ItemTarget::Kind::Refused || target.folder.rfind(L"\\\\", 0) == 0) return std::wstring();
    std::wstring folder = LowerCase(target.folder);
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
}

bool Within(const std::wstring& folder, const std::wstring& mountPoint) {
    return folder.compare(0, mountPoint.size(), mountPoint) == 0;
}

}  // namespace

std::wstring NotSavedText(long code, bool partly) {
    if (partly) {
        return L"The stored list was changed only in part (error " + std::to_wstring(code) +
               L"). The lists show what is stored now.";
    }
    if (code == kAccessDenied) return L"The guard may not change the stored list. Nothing was changed.";
    return L"The stored list could not be changed (error " + std::to_wstring(code) + L"). Nothing was changed.";
}

std::uint64_t ListKeeper::SteadyMilliseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void ListKeeper::LockStoredItems() {
    std::vector<std::wstring> stored;
    // A list that cannot be read locks nothing; the watch of its key reads it again.
    if (store_.ReadItems(stored) != 0) return;
    ReportUnusable(stored, false, unusableStored_);
    std::vector<Item> added;
    for (Item& item : OncePerItem(ItemsOf(stored))) {
        if (OnList(item)) continue;
        items_.push_back(item);
        added.push_back(std::move(item));
    }
    ReserveShares();
    for (const Item& item : added) locker_.SetItemLocked(item, true);
}

void ListKeeper::ReserveShares() { locker_.SetItemsKnown(ListedItems().size()); }

void ListKeeper::ReleaseAll() {
    for (const Item& item : ListedItems()) {
        if (Held(item)) locker_.SetItemLocked(item, false);
    }
    items_.clear();
    policy_.clear();
    unlockedOrder_.clear();
    unlockedBy_.clear();
    released_.clear();
}

void ListKeeper::ReleaseItems(const std::vector<Item>& items) {
    const std::vector<Item> policyOnly = PolicyOnly(items_);
    for (const Item& item : items) {
        if ((!OnList(item) && !Contains(policyOnly, item)) || IsReleased(item)) continue;
        if (Held(item)) locker_.SetItemLocked(item, false);
        released_.insert(item);
    }
}

void ListKeeper::RestoreItems(const std::vector<Item>& items) {
    for (const Item& item : items) {
        if (released_.erase(item) != 0 && Held(item)) locker_.SetItemLocked(item, true);
    }
}

bool ListKeeper::ApplyStoredItems(const std::vector<std::wstring>& stored) {
    ReportUnusable(stored, false, unusableStored_);
    std::vector<Item> items = OncePerItem(ItemsOf(stored));
    if (SameTexts(items, items_)) return false;
    // A policy's item now stored is held as the stored one; one no longer
    // stored is held for the policy.
    const std::vector<Item> policyBefore = PolicyOnly(items_);
    const std::vector<Item> policyAfter = PolicyOnly(items);
    LetGo(policyBefore, policyAfter);
    const std::unordered_set<Item, ItemHash> staying(items.begin(), items.end());
    for (const Item& item : items_) {
        if (staying.count(item) != 0) continue;
        if (Held(item)) locker_.SetItemLocked(item, false);
        unlockedBy_.erase(item);
        Erase(unlockedOrder_, item);
        released_.erase(item);
        movedToEnd_.erase(item);
    }
    const std::unordered_set<Item, ItemHash> before(items_.begin(), items_.end());
    items_ = std::move(items);
    // Only written another way: the same items, shown as now written.
    Respell(unlockedOrder_, items_);
    ReserveShares();
    for (const Item& item : items_) {
        if (before.count(item) == 0) locker_.SetItemLocked(item, true);
    }
    Hold(policyBefore, policyAfter);
    return true;
}

bool ListKeeper::ApplyPolicyItems(const std::vector<std::wstring>& policy) {
    ReportUnusable(policy, true, unusablePolicy_);
    std::vector<Item> usable;
    for (const std::wstring& value : policy) {
        PolicyItem item = ItemOfPolicyValue(value);
        if (item.fault == ItemFault::None) usable.emplace_back(std::move(item.item));
    }
    std::vector<Item> next = OncePerItem(std::move(usable));
    if (SameTexts(next, policy_)) return false;
    std::vector<std::wstring> added;
    std::vector<std::wstring> removed;
    for (const Item& item : next) {
        if (!Contains(policy_, item)) added.push_back(item.Text());
    }
    for (const Item& item : policy_) {
        if (!Contains(next, item)) removed.push_back(item.Text());
    }
    // Only respelled: nothing to report.
    if (!added.empty() || !removed.empty()) events_->PolicyApplied(added, removed);
    const std::vector<Item> before = PolicyOnly(items_);
    policy_ = std::move(next);
    const std::vector<Item> after = PolicyOnly(items_);
    ReserveShares();
    LetGo(before, after);
    Hold(before, after);
    // A stored item the policy names now stays locked, also where a window unlocked it.
    const std::vector<Item> unlocked = unlockedOrder_;
    for (const Item& item : unlocked) {
        if (SetByPolicy(item)) Relock(item, RelockCause::Policy, UnlockerOf(item));
    }
    return true;
}

std::vector<Item> ListKeeper::ListedItems() const {
    std::vector<Item> listed = items_;
    const std::vector<Item> policyOnly = PolicyOnly(items_);
    listed.insert(listed.end(), policyOnly.begin(), policyOnly.end());
    return listed;
}

bool ListKeeper::SetByPolicy(const Item& item) const { return Contains(policy_, item); }

std::vector<Item> ListKeeper::PolicyOnly(const std::vector<Item>& stored) const {
    std::vector<Item> only;
    if (policy_.empty()) return only;
    std::unordered_set<Item, ItemHash> storedItems(stored.begin(), stored.end());
    for (const Item& item : policy_) {
        if (storedItems.count(item) == 0) only.push_back(item);
    }
    return only;
}

void ListKeeper::LetGo(const std::vector<Item>& before, const std::vector<Item>& after) {
    for (const Item& item : before) {
        if (Contains(after, item)) continue;
        if (!IsReleased(item)) locker_.SetItemLocked(item, false);
        released_.erase(item);
    }
}

void ListKeeper::Hold(const std::vector<Item>& before, const std::vector<Item>& after) {
    for (const Item& item : after) {
        if (!Contains(before, item)) locker_.SetItemLocked(item, true);
    }
}

void ListKeeper::ReportUnusable(const std::vector<std::wstring>& values, bool policy,
                                std::set<std::wstring>& reported) {
    std::set<std::wstring> unusable;
    for (const std::wstring& value : values) {
        const ItemFault fault = policy ? ItemOfPolicyValue(value).fault : FaultOfItem(value);
        if (fault == ItemFault::None || !unusable.insert(value).second || reported.count(value) != 0) continue;
        if (policy) {
            events_->PolicyValueUnusable(value, fault);
        } else {
            events_->StoredItemUnusable(value, fault);
        }
    }
    reported = std::move(unusable);
}

void ListKeeper::Connect(ConnectionId connection, const std::wstring& user) { connected_[connection] = user; }

ChangeActor ListKeeper::ActorOf(ConnectionId connection) const {
    ChangeActor actor{UserOf(connection), std::nullopt};
    const auto session = sessions_.find(connection);
    if (session != sessions_.end()) actor.session = session->second;
    return actor;
}

ChangeActor ListKeeper::UnlockerOf(const Item& item) const {
    const auto found = unlockedBy_.find(item);
    return found == unlockedBy_.end() ? ChangeActor() : found->second.by;
}

const std::wstring& ListKeeper::UserOf(ConnectionId connection) const {
    static const std::wstring nobody;
    const auto found = connected_.find(connection);
    return found == connected_.end() ? nobody : found->second;
}

void ListKeeper::Disconnect(ConnectionId connection) {
    const ChangeActor actor = ActorOf(connection);
    connected_.erase(connection);
    sessions_.erase(connection);
    authenticated_.erase(connection);
    administrators_.erase(connection);
    checking_.erase(connection);
    std::vector<Item> relock;
    for (const Item& item : unlockedOrder_) {
        const UnlockOwner& owner = unlockedBy_.at(item);
        if (!owner.forSession && owner.connection == connection) relock.push_back(item);
    }
    for (const Item& item : relock) Relock(item, RelockCause::WindowClosed, actor);
}

void ListKeeper::SetRelockSource(std::function<RelockSettings()> settings, Clock wallClock) {
    relockSettings_ = std::move(settings);
    wallClock_ = std::move(wallClock);
}

std::vector<Item> ListKeeper::UnlockedInSession(std::uint32_t session) const {
    std::vector<Item> unlocked;
    for (const Item& item : unlockedOrder_) {
        const UnlockOwner& owner = unlockedBy_.at(item);
        // A client whose session could not be learnt counts as in every session.
        const auto found = sessions_.find(owner.connection);
        const bool inSession = owner.forSession ? owner.session == session
                                                : found == sessions_.end() || found->second == session;
        if (inSession) unlocked.push_back(item);
    }
    return unlocked;
}

void ListKeeper::LeaveSession(std::uint32_t session) {
    if (unlockedBy_.empty() || !relockSettings_().onSessionLock) return;
    for (const Item& item : UnlockedInSession(session)) {
        Relock(item, RelockCause::SessionLocked, UnlockerOf(item));
    }
}

void ListKeeper::SessionEnded(std::uint32_t session) {
    for (const Item& item : UnlockedInSession(session)) {
        Relock(item, RelockCause::SessionLocked, UnlockerOf(item));
    }
}

void ListKeeper::RelockDue() {
    if (unlockedBy_.empty()) return;
    for (const std::wstring& key : relockSchedule_.Due(wallClock_(), relockSettings_().minutes)) {
        // Relocked, removed or let go since: only forgotten.
        const auto unlocked = std::find_if(unlockedOrder_.begin(), unlockedOrder_.end(),
                                           [&key](const Item& item) { return item.Key() == key; });
        if (unlocked != unlockedOrder_.end()) Relock(Item(*unlocked), RelockCause::TimeUp, UnlockerOf(*unlocked));
        relockSchedule_.Relocked(key);
    }
}

KeeperReply ListKeeper::Reply(ConnectionId connection, const GuardMessage& request,
                              const std::optional<ItemCheck>& checked) {
    if (!IsGuardRequest(request.kind)) return {GuardMessage::Refusal(GuardRefusal::UnknownRequest)};
    if (request.kind == GuardMessageKind::Leave || request.kind == GuardMessageKind::Close) {
        if (!ownProcess_) authenticated_.erase(connection);
        const long code = request.kind == GuardMessageKind::Close ? store_.Commit() : 0;
        if (code != 0) {
            return {
                GuardMessage::Refusal(GuardRefusal::KeptUnsaved, ClosingNotSavedText(code, store_.ErrorWords(code)))};
        }
        return {GuardMessage::Done()};
    }
    if (request.kind == GuardMessageKind::Authenticate) {
        PasswordTrial trial;
        if (std::optional<KeeperReply> now = BeginPassword(connection, request.text, trial)) return *now;
        PasswordVerdict verdict = Judge(trial);
        KeeperReply reply = FinishPassword(trial, verdict);
        // Checked at once: the wait comes after, as the caller holds the answer.
        reply.holdMs = trial.startAt - std::min(trial.startAt, clock_());
        return reply;
    }
    const bool readsAsAdministrator = request.kind == GuardMessageKind::ReadLists &&
                                      administrators_.count(connection) != 0;
    if (authenticated_.count(connection) == 0 && !readsAsAdministrator) {
        return {GuardMessage::Refusal(GuardRefusal::NotAuthenticated)};
    }
    switch (request.kind) {
    case GuardMessageKind::ReadLists:
        return {Lists()};
    case GuardMessageKind::LockFolder:
        return {LockFolder(connection, request.text, checked)};
    case GuardMessageKind::UnlockItem:
        return {Unlock(connection, Item(request.text), false)};
    case GuardMessageKind::UnlockForSession:
        return {Unlock(connection, Item(request.text), true)};
    case GuardMessageKind::RelockItem:
        return {Relock(Item(request.text), RelockCause::ByUser, ActorOf(connection))};
    case GuardMessageKind::RemoveItem:
        return {Remove(connection, Item(request.text))};
    case GuardMessageKind::SetPassword:
        return {StoreVerifier(connection, MakeVerifier(request.text))};
    default:
        return {GuardMessage::Refusal(GuardRefusal::UnknownRequest)};
    }
}

GuardMessage ListKeeper::Lists() const {
    GuardMessage lists;
    lists.kind = GuardMessageKind::Lists;
    std::vector<Item> locked;
    for (const Item& item : items_) {
        if (!IsUnlocked(item)) locked.push_back(item);
    }
    // Items moved to the end in the order of their moves; the policy's own
    // stay after the stored ones.
    std::stable_sort(locked.begin(), locked.end(), [this](const Item& left, const Item& right) {
        const auto l = movedToEnd_.find(left);
        const auto r = movedToEnd_.find(right);
        return (l == movedToEnd_.end() ? 0 : l->second) < (r == movedToEnd_.end() ? 0 : r->second);
    });
    for (const Item& item : PolicyOnly(items_)) locked.push_back(item);
    const std::vector<ItemStatus> statuses = locker_.StatusOf(locked);
    for (std::size_t i = 0; i < locked.size(); ++i) {
        ItemStatus status = i < statuses.size() ? statuses[i] : ItemStatus();
        if (IsReleased(locked[i])) {
            // Let go for a drive being removed: nothing is held of it.
            status = ItemStatus();
            status.locked = true;
            status.folder = ItemStatus::Folder::Unreachable;
        }
        status.setByPolicy = SetByPolicy(locked[i]);
        lists.locked.push_back({locked[i], status});
    }
    lists.unlocked = unlockedOrder_;
    const RelockSettings relock = relockSettings_();
    for (const Item& item : unlockedOrder_) {
        lists.unlockedRelockAt.push_back(relockSchedule_.DueAt(item.Key(), relock.minutes));
    }
    lists.relocksOnSessionLock = relock.onSessionLock;
    return lists;
}

std::vector<Item>::const_iterator ListKeeper::ListedAs(const Item& item) const {
    return std::find(items_.begin(), items_.end(), item);
}

bool ListKeeper::NeedsCheck(ConnectionId connection, const GuardMessage& request) const {
    if (request.kind != GuardMessageKind::LockFolder || !IsAuthenticated(connection)) return false;
    const Item item(request.text);
    return !SetByPolicy(item) && !OnList(item);
}

GuardMessage ListKeeper::LockFolder(ConnectionId connection, const std::wstring& path,
                                    const std::optional<ItemCheck>& checked) {
    const Item item(path);
    // Locked for the policy already, and never stored a second time.
    if (SetByPolicy(item)) return GuardMessage::Done(false);
    const auto listed = ListedAs(item);
    if (listed != items_.end()) {
        // Already listed: locking it again is relocking it, if it was unlocked.
        if (!IsUnlocked(*listed)) return GuardMessage::Done(false);
        return Relock(*listed, RelockCause::ByUser, ActorOf(connection));
    }
    ItemCheck check = checked && checked->path == path ? *checked : Check(connection, path);
    if (!check.refusal.empty()) return GuardMessage::Refusal(GuardRefusal::ItemRefused, check.refusal);
    GuardMessage notSaved;
    if (!TakeStored(notSaved)) return notSaved;
    // Stored by someone else meanwhile, and locked with what they stored.
    if (OnList(item)) return GuardMessage::Done(true);
    std::vector<Item> items = items_;
    items.push_back(item);
    if (!Save(items, notSaved)) return notSaved;
    movedToEnd_[item] = ++moves_;
    locker_.LockApproved(item, check.approved);
    events_->Locked(ActorOf(connection), item.Text());
    return GuardMessage::Done(true);
}

KeeperReply ReplyCheckedOutside(ListKeeper& keeper, std::mutex& lock, ConnectionId connection,
                                const GuardMessage& request, const std::function<void(const KeeperReply&)>& then) {
    bool needsCheck = false;
    {
        std::lock_guard<std::mutex> hold(lock);
        needsCheck = keeper.NeedsCheck(connection, request);
    }
    std::optional<ItemCheck> checked;
    if (needsCheck) checked = keeper.Check(connection, request.text);
    std::lock_guard<std::mutex> hold(lock);
    KeeperReply reply = keeper.Reply(connection, request, checked);
    if (then) then(reply);
    return reply;
}

GuardMessage ListKeeper::Unlock(ConnectionId connection, const Item& asked, bool forSession) {
    if (SetByPolicy(asked)) return GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText);
    const auto listed = ListedAs(asked);
    if (listed == items_.end() || IsUnlocked(asked)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    const Item& item = *listed;
    UnlockOwner owner{connection, forSession, 0, ActorOf(connection)};
    if (forSession) {
        // Bound to no session, it would outlast every sign-out.
        const auto session = sessions_.find(connection);
        if (session == sessions_.end()) return GuardMessage::Refusal(GuardRefusal::ItemRefused, kNoSessionText);
        owner.session = session->second;
    }
    if (Held(item)) locker_.SetItemLocked(item, false);
    unlockedBy_[item] = owner;
    unlockedOrder_.push_back(item);
    relockSchedule_.Unlocked(item.Key(), wallClock_());
    events_->Unlocked(owner.by, item.Text());
    return GuardMessage::Done(true);
}

GuardMessage ListKeeper::Relock(const Item& asked, RelockCause cause, const ChangeActor& by) {
    const auto unlocked = std::find(unlockedOrder_.begin(), unlockedOrder_.end(), asked);
    if (unlocked == unlockedOrder_.end()) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    const Item item = *unlocked;
    unlockedBy_.erase(item);
    unlockedOrder_.erase(unlocked);
    relockSchedule_.Relocked(item.Key());
    movedToEnd_[item] = ++moves_;
    // An item of a drive being removed is locked again with the others of that drive.
    if (Held(item)) locker_.SetItemLocked(item, true);
    events_->Relocked(by, item.Text(), cause);
    return GuardMessage::Done(true);
}

GuardMessage ListKeeper::Remove(ConnectionId connection, const Item& asked) {
    if (SetByPolicy(asked)) return GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText);
    if (!OnList(asked)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    GuardMessage notSaved;
    if (!TakeStored(notSaved)) return notSaved;
    // Taken off the stored list by someone else meanwhile, and let go.
    const auto listed = ListedAs(asked);
    if (listed == items_.end()) return GuardMessage::Done(true);
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the save replaces the list it points into.
    const Item item = *listed;
    std::vector<Item> items = items_;
    Erase(items, item);
    const bool wasHeld = Held(item);
    if (!Save(items, notSaved)) return notSaved;
    unlockedBy_.erase(item);
    Erase(unlockedOrder_, item);
    released_.erase(item);
    movedToEnd_.erase(item);
    if (wasHeld) locker_.SetItemLocked(item, false);
    events_->Removed(ActorOf(connection), item.Text());
    return GuardMessage::Done(true);
}

std::optional<KeeperReply> ListKeeper::BeginPassword(ConnectionId connection, const std::wstring& entry,
                                                     PasswordTrial& trial) {
    std::wstring stored;
    const long code = store_.ReadPassword(stored);
    const StoredPassword kind = code == 0 ? KindOfStoredPassword(stored) : StoredPassword::Malformed;
    // Neither is a guess: nothing is counted against the user.
    if (kind == StoredPassword::Malformed || kind == StoredPassword::Untypable) {
        WipeText(stored);
        authenticated_.erase(connection);
        return KeeperReply{GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kind == StoredPassword::Untypable
                                                                                       ? kPasswordUntypable
                                                                                       : kPasswordUnreadable)};
    }
    const std::uint64_t now = clock_();
    trial.connection = connection;
    trial.entry = entry;
    trial.stored = std::move(stored);
    trial.startAt = ownProcess_ ? now : throttle_.Begin(UserOf(connection), now);
    checking_.insert(connection);
    return std::nullopt;
}

PasswordVerdict ListKeeper::Judge(const PasswordTrial& trial) const {
    PasswordVerdict verdict;
    verdict.right = PasswordMatches(hash_, trial.entry, trial.stored);
    if (verdict.right && KindOfStoredPassword(trial.stored) == StoredPassword::Plain) {
        verdict.verifier = MakeVerifier(trial.entry);
    }
    return verdict;
}

KeeperReply ListKeeper::FinishPassword(const PasswordTrial& trial, PasswordVerdict& verdict) {
    const ConnectionId connection = trial.connection;
    // A connection that went meanwhile opens nothing.
    if (checking_.erase(connection) == 0) return {GuardMessage::Refusal(GuardRefusal::NotAuthenticated)};
    if (!verdict.right) {
        authenticated_.erase(connection);
        GuardMessage wrong = GuardMessage::Refusal(GuardRefusal::WrongPassword);
        // Counted from when the answer goes, which is never before its turn.
        if (!ownProcess_) {
            const std::uint64_t wait = throttle_.WaitAfter(UserOf(connection), std::max(clock_(), trial.startAt));
            wrong.waitMs = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(wait, std::numeric_limits<std::uint32_t>::max()));
        }
        return {wrong};
    }
    if (!ownProcess_) throttle_.Right(UserOf(connection), trial.startAt);
    authenticated_.insert(connection);
    if (!verdict.verifier.empty()) {
        // Where the key may not be written, the text stays: it still works.
        std::wstring stored;
        if (store_.ReadPassword(stored) == 0 && stored == trial.stored) store_.SavePassword(verdict.verifier);
        WipeText(stored);
    }
    return {GuardMessage::Done()};
}

GuardMessage ListKeeper::StoreVerifier(ConnectionId connection, const std::wstring& verifier) {
    if (authenticated_.count(connection) == 0) return GuardMessage::Refusal(GuardRefusal::NotAuthenticated);
    if (verifier.empty()) {
        return GuardMessage::Refusal(GuardRefusal::NotSaved,
                                     L"The password could not be saved (the system made no verifier of it). Nothing "
                                     L"was changed.");
    }
    const long code = store_.SavePassword(verifier);
    if (code == 0) {
        events_->PasswordSet(ActorOf(connection));
        return GuardMessage::Done(false);
    }
    const bool kept = store_.KeepsUnsaved();
    return GuardMessage::Refusal(kept ? GuardRefusal::KeptUnsaved : GuardRefusal::NotSaved,
                                 PasswordNotSavedText(code, kept, store_.ErrorWords(code)));
}

bool ListKeeper::TakeStored(GuardMessage& refusal) {
    std::vector<std::wstring> stored;
    const long code = store_.ReadItems(stored);
    if (code != 0) {
        refusal = GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(code));
        return false;
    }
    ApplyStoredItems(stored);
    return true;
}

bool ListKeeper::Save(const std::vector<Item>& items, GuardMessage& refusal) {
    const long code = store_.SaveItems(TextsOf(items));
    if (code == 0) {
        items_ = items;
        ReserveShares();
        return true;
    }
    // A save stopped halfway leaves part of it stored: the list is what is
    // stored, and the window is told so.
    std::vector<std::wstring> stored;
    const bool partly = store_.ReadItems(stored) == 0 && ApplyStoredItems(stored);
    refusal = GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(code, partly));
    return false;
}

std::vector<Item> ItemsOnVolume(const std::vector<Item>& items, const std::wstring& volumeRoot,
                                const std::vector<std::wstring>& volumeRoots) {
    std::vector<Item> on;
    const std::wstring mountPoint = MountPoint(volumeRoot);
    if (mountPoint.empty()) return on;
    std::vector<std::wstring> deeper;
    for (const std::wstring& root : volumeRoots) {
        const std::wstring other = MountPoint(root);
        if (other.size() > mountPoint.size() && Within(other, mountPoint)) deeper.push_back(other);
    }
    for (const Item& item : items) {
        const ItemKey& parsed = item.Parsed();
        if (parsed.folder.empty()) continue;
        const std::wstring folder = parsed.folder.back() == L'\\' ? parsed.folder : parsed.folder + L'\\';
        if (!Within(folder, mountPoint)) continue;
        if (std::any_of(deeper.begin(), deeper.end(),
                        [&folder](const std::wstring& other) { return Within(folder, other); })) {
            continue;
        }
        on.push_back(item);
    }
    return on;
}

}  // namespace vaultmere
