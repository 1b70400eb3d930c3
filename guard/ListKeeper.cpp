#include "guard/ListKeeper.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <set>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

constexpr long kAccessDenied = 5;

void Erase(std::vector<std::wstring>& list, const std::wstring& path) {
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

// Each item once, as the locker takes it: the same folder stored again in
// other case, or written another way, is the same item, held once, so that
// one Unlock Item lets it go. The first spelling stays.
std::vector<std::wstring> OncePerItem(const std::vector<std::wstring>& paths) {
    std::set<std::wstring> seen;
    std::vector<std::wstring> once;
    for (const std::wstring& path : paths) {
        if (seen.insert(MakeItemKey(path).key).second) once.push_back(path);
    }
    return once;
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

// The entry of list that names the same item as path, or list.end().
std::vector<std::wstring>::const_iterator FindItem(const std::vector<std::wstring>& list, const std::wstring& path) {
    const std::wstring key = MakeItemKey(path).key;
    return std::find_if(list.begin(), list.end(),
                        [&key](const std::wstring& item) { return MakeItemKey(item).key == key; });
}

bool ContainsItem(const std::vector<std::wstring>& list, const std::wstring& path) {
    return FindItem(list, path) != list.end();
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
    std::vector<std::wstring> added;
    for (const std::wstring& path : OncePerItem(stored)) {
        if (OnList(path)) continue;
        items_.push_back(path);
        added.push_back(path);
    }
    ReserveShares();
    for (const std::wstring& path : added) locker_.SetItemLocked(path, true);
}

void ListKeeper::ReserveShares() { locker_.SetItemsKnown(ListedItems().size()); }

void ListKeeper::ReleaseAll() {
    for (const std::wstring& path : ListedItems()) {
        if (Held(path)) locker_.SetItemLocked(path, false);
    }
    items_.clear();
    policy_.clear();
    unlockedOrder_.clear();
    unlockedBy_.clear();
    released_.clear();
}

void ListKeeper::ReleaseItems(const std::vector<std::wstring>& paths) {
    const std::vector<std::wstring> policyOnly = PolicyOnly(items_);
    for (const std::wstring& path : paths) {
        if ((!OnList(path) && !Contains(policyOnly, path)) || IsReleased(path)) continue;
        if (Held(path)) locker_.SetItemLocked(path, false);
        released_.insert(path);
    }
}

void ListKeeper::RestoreItems(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        if (released_.erase(path) != 0 && Held(path)) locker_.SetItemLocked(path, true);
    }
}

bool ListKeeper::ApplyStoredItems(const std::vector<std::wstring>& stored) {
    ReportUnusable(stored, false, unusableStored_);
    std::vector<std::wstring> items = OncePerItem(stored);
    if (items == items_) return false;
    // A policy's item now stored is held as the stored one; one no longer
    // stored is held for the policy.
    const std::vector<std::wstring> policyBefore = PolicyOnly(items_);
    const std::vector<std::wstring> policyAfter = PolicyOnly(items);
    LetGo(policyBefore, policyAfter);
    for (const std::wstring& path : items_) {
        if (std::find(items.begin(), items.end(), path) != items.end()) continue;
        if (Held(path)) locker_.SetItemLocked(path, false);
        unlockedBy_.erase(path);
        Erase(unlockedOrder_, path);
        released_.erase(path);
    }
    const std::vector<std::wstring> before = std::move(items_);
    items_ = std::move(items);
    ReserveShares();
    for (const std::wstring& path : items_) {
        if (std::find(before.begin(), before.end(), path) == before.end()) locker_.SetItemLocked(path, true);
    }
    Hold(policyBefore, policyAfter);
    return true;
}

bool ListKeeper::ApplyPolicyItems(const std::vector<std::wstring>& policy) {
    ReportUnusable(policy, true, unusablePolicy_);
    std::vector<std::wstring> usable;
    for (const std::wstring& value : policy) {
        PolicyItem item = ItemOfPolicyValue(value);
        if (item.fault == ItemFault::None) usable.push_back(std::move(item.item));
    }
    std::vector<std::wstring> next = OncePerItem(usable);
    if (next == policy_) return false;
    std::vector<std::wstring> added;
    std::vector<std::wstring> removed;
    for (const std::wstring& path : next) {
        if (!ContainsItem(policy_, path)) added.push_back(path);
    }
    for (const std::wstring& path : policy_) {
        if (!ContainsItem(next, path)) removed.push_back(path);
    }
    // Only respelled: nothing to report.
    if (!added.empty() || !removed.empty()) events_->PolicyApplied(added, removed);
    const std::vector<std::wstring> before = PolicyOnly(items_);
    policy_ = std::move(next);
    const std::vector<std::wstring> after = PolicyOnly(items_);
    ReserveShares();
    LetGo(before, after);
    Hold(before, after);
    // A stored item the policy names now stays locked, also where a window unlocked it.
    const std::vector<std::wstring> unlocked = unlockedOrder_;
    for (const std::wstring& path : unlocked) {
        if (SetByPolicy(path)) Relock(path, RelockCause::Policy, UnlockerOf(path));
    }
    return true;
}

std::vector<std::wstring> ListKeeper::ListedItems() const {
    std::vector<std::wstring> listed = items_;
    const std::vector<std::wstring> policyOnly = PolicyOnly(items_);
    listed.insert(listed.end(), policyOnly.begin(), policyOnly.end());
    return listed;
}

bool ListKeeper::SetByPolicy(const std::wstring& path) const { return !policy_.empty() && ContainsItem(policy_, path); }

std::vector<std::wstring> ListKeeper::PolicyOnly(const std::vector<std::wstring>& stored) const {
    std::vector<std::wstring> only;
    if (policy_.empty()) return only;
    std::set<std::wstring> keys;
    for (const std::wstring& path : stored) keys.insert(MakeItemKey(path).key);
    for (const std::wstring& path : policy_) {
        if (keys.count(MakeItemKey(path).key) == 0) only.push_back(path);
    }
    return only;
}

void ListKeeper::LetGo(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    for (const std::wstring& path : before) {
        if (Contains(after, path)) continue;
        if (!IsReleased(path)) locker_.SetItemLocked(path, false);
        released_.erase(path);
    }
}

void ListKeeper::Hold(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    for (const std::wstring& path : after) {
        if (!Contains(before, path)) locker_.SetItemLocked(path, true);
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

ChangeActor ListKeeper::UnlockerOf(const std::wstring& path) const {
    const auto found = unlockedBy_.find(path);
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
    std::vector<std::wstring> relock;
    for (const auto& [path, owner] : unlockedBy_) {
        if (!owner.forSession && owner.connection == connection) relock.push_back(path);
    }
    for (const std::wstring& path : relock) Relock(path, RelockCause::WindowClosed, actor);
}

void ListKeeper::SetRelockSource(std::function<RelockSettings()> settings, Clock wallClock) {
    relockSettings_ = std::move(settings);
    wallClock_ = std::move(wallClock);
}

std::vector<std::wstring> ListKeeper::UnlockedInSession(std::uint32_t session) const {
    std::vector<std::wstring> unlocked;
    for (const auto& [path, owner] : unlockedBy_) {
        // A client whose session could not be learnt counts as in every session.
        const auto found = sessions_.find(owner.connection);
        const bool inSession = owner.forSession ? owner.session == session
                                                : found == sessions_.end() || found->second == session;
        if (inSession) unlocked.push_back(path);
    }
    return unlocked;
}

void ListKeeper::LeaveSession(std::uint32_t session) {
    if (unlockedBy_.empty() || !relockSettings_().onSessionLock) return;
    for (const std::wstring& path : UnlockedInSession(session)) {
        Relock(path, RelockCause::SessionLocked, UnlockerOf(path));
    }
}

void ListKeeper::SessionEnded(std::uint32_t session) {
    for (const std::wstring& path : UnlockedInSession(session)) {
        Relock(path, RelockCause::SessionLocked, UnlockerOf(path));
    }
}

void ListKeeper::RelockDue() {
    if (unlockedBy_.empty()) return;
    for (const std::wstring& path : relockSchedule_.Due(wallClock_(), relockSettings_().minutes)) {
        // Relocked, removed or let go since: only forgotten.
        if (IsUnlocked(path)) Relock(path, RelockCause::TimeUp, UnlockerOf(path));
        relockSchedule_.Relocked(path);
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
        return {Unlock(connection, request.text, false)};
    case GuardMessageKind::UnlockForSession:
        return {Unlock(connection, request.text, true)};
    case GuardMessageKind::RelockItem:
        return {Relock(request.text, RelockCause::ByUser, ActorOf(connection))};
    case GuardMessageKind::RemoveItem:
        return {Remove(connection, request.text)};
    case GuardMessageKind::SetPassword:
        return {StoreVerifier(connection, MakeVerifier(request.text))};
    default:
        return {GuardMessage::Refusal(GuardRefusal::UnknownRequest)};
    }
}

GuardMessage ListKeeper::Lists() const {
    GuardMessage lists;
    lists.kind = GuardMessageKind::Lists;
    std::vector<std::wstring> locked;
    for (const std::wstring& path : items_) {
        if (!IsUnlocked(path)) locked.push_back(path);
    }
    // Items moved to the end in the order of their moves; the policy's own
    // stay after the stored ones.
    std::stable_sort(locked.begin(), locked.end(), [this](const std::wstring& left, const std::wstring& right) {
        const auto l = movedToEnd_.find(left);
        const auto r = movedToEnd_.find(right);
        return (l == movedToEnd_.end() ? 0 : l->second) < (r == movedToEnd_.end() ? 0 : r->second);
    });
    for (const std::wstring& path : PolicyOnly(items_)) locked.push_back(path);
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
    for (const std::wstring& path : unlockedOrder_) {
        lists.unlockedRelockAt.push_back(relockSchedule_.DueAt(path, relock.minutes));
    }
    lists.relocksOnSessionLock = relock.onSessionLock;
    return lists;
}

std::vector<std::wstring>::const_iterator ListKeeper::ListedAs(const std::wstring& path) const {
    return FindItem(items_, path);
}

bool ListKeeper::NeedsCheck(ConnectionId connection, const GuardMessage& request) const {
    return request.kind == GuardMessageKind::LockFolder && IsAuthenticated(connection) && !SetByPolicy(request.text) &&
           ListedAs(request.text) == items_.end();
}

GuardMessage ListKeeper::LockFolder(ConnectionId connection, const std::wstring& path,
                                    const std::optional<ItemCheck>& checked) {
    // Locked for the policy already, and never stored a second time.
    if (SetByPolicy(path)) return GuardMessage::Done(false);
    const auto listed = ListedAs(path);
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
    if (ListedAs(path) != items_.end()) return GuardMessage::Done(true);
    std::vector<std::wstring> items = items_;
    items.push_back(path);
    if (!Save(items, notSaved)) return notSaved;
    movedToEnd_[path] = ++moves_;
    locker_.LockApproved(path, check.approved);
    events_->Locked(ActorOf(connection), path);
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

GuardMessage ListKeeper::Unlock(ConnectionId connection, const std::wstring& path, bool forSession) {
    if (SetByPolicy(path)) return GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText);
    if (!OnList(path) || IsUnlocked(path)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    UnlockOwner owner{connection, forSession, 0, ActorOf(connection)};
    if (forSession) {
        // Bound to no session, it would outlast every sign-out.
        const auto session = sessions_.find(connection);
        if (session == sessions_.end()) return GuardMessage::Refusal(GuardRefusal::ItemRefused, kNoSessionText);
        owner.session = session->second;
    }
    if (Held(path)) locker_.SetItemLocked(path, false);
    unlockedBy_[path] = owner;
    unlockedOrder_.push_back(path);
    relockSchedule_.Unlocked(path, wallClock_());
    events_->Unlocked(owner.by, path);
    return GuardMessage::Done(true);
}

GuardMessage ListKeeper::Relock(const std::wstring& path, RelockCause cause, const ChangeActor& by) {
    if (!IsUnlocked(path)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    unlockedBy_.erase(path);
    Erase(unlockedOrder_, path);
    relockSchedule_.Relocked(path);
    movedToEnd_[path] = ++moves_;
    // An item of a drive being removed is locked again with the others of that drive.
    if (Held(path)) locker_.SetItemLocked(path, true);
    events_->Relocked(by, path, cause);
    return GuardMessage::Done(true);
}

GuardMessage ListKeeper::Remove(ConnectionId connection, const std::wstring& path) {
    if (SetByPolicy(path)) return GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText);
    if (!OnList(path)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    GuardMessage notSaved;
    if (!TakeStored(notSaved)) return notSaved;
    // Taken off the stored list by someone else meanwhile, and let go.
    if (!OnList(path)) return GuardMessage::Done(true);
    std::vector<std::wstring> items = items_;
    Erase(items, path);
    const bool wasHeld = Held(path);
    if (!Save(items, notSaved)) return notSaved;
    unlockedBy_.erase(path);
    Erase(unlockedOrder_, path);
    released_.erase(path);
    movedToEnd_.erase(path);
    if (wasHeld) locker_.SetItemLocked(path, false);
    events_->Removed(ActorOf(connection), path);
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

bool ListKeeper::Save(const std::vector<std::wstring>& items, GuardMessage& refusal) {
    const long code = store_.SaveItems(items);
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

bool ListKeeper::OnList(const std::wstring& path) const {
    return std::find(items_.begin(), items_.end(), path) != items_.end();
}

std::vector<std::wstring> ItemsOnVolume(const std::vector<std::wstring>& items, const std::wstring& volumeRoot,
                                        const std::vector<std::wstring>& volumeRoots) {
    std::vector<std::wstring> on;
    const std::wstring mountPoint = MountPoint(volumeRoot);
    if (mountPoint.empty()) return on;
    std::vector<std::wstring> deeper;
    for (const std::wstring& root : volumeRoots) {
        const std::wstring other = MountPoint(root);
        if (other.size() > mountPoint.size() && Within(other, mountPoint)) deeper.push_back(other);
    }
    for (const std::wstring& path : items) {
        const ItemKey item = MakeItemKey(path);
        if (item.folder.empty()) continue;
        const std::wstring folder = item.folder.back() == L'\\' ? item.folder : item.folder + L'\\';
        if (!Within(folder, mountPoint)) continue;
        if (std::any_of(deeper.begin(), deeper.end(),
                        [&folder](const std::wstring& other) { return Within(folder, other); })) {
            continue;
        }
        on.push_back(path);
    }
    return on;
}

}  // namespace vaultmere
