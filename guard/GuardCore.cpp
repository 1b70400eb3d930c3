#include "guard/GuardCore.h"

#include <algorithm>
#include <chrono>
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

bool ContainsIgnoringCase(const std::vector<std::wstring>& list, const std::wstring& path) {
    return std::any_of(list.begin(), list.end(),
                       [&path](const std::wstring& item) { return EqualsIgnoringCase(item, path); });
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

std::uint64_t GuardCore::SteadyMilliseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void GuardCore::LockStoredItems() {
    std::vector<std::wstring> stored;
    // A list that cannot be read locks nothing; the watch of its key reads it again.
    if (store_.ReadItems(stored) != 0) return;
    for (const std::wstring& path : OncePerItem(stored)) {
        if (OnList(path)) continue;
        items_.push_back(path);
        locker_.SetItemLocked(path, true);
    }
}

void GuardCore::ReleaseAll() {
    for (const std::wstring& path : ListedItems()) {
        if (Held(path)) locker_.SetItemLocked(path, false);
    }
    items_.clear();
    policy_.clear();
    unlockedOrder_.clear();
    unlockedBy_.clear();
    released_.clear();
}

void GuardCore::ReleaseItems(const std::vector<std::wstring>& paths) {
    const std::vector<std::wstring> policyOnly = PolicyOnly(items_);
    for (const std::wstring& path : paths) {
        if ((!OnList(path) && !Contains(policyOnly, path)) || IsReleased(path)) continue;
        if (Held(path)) locker_.SetItemLocked(path, false);
        released_.insert(path);
    }
}

void GuardCore::RestoreItems(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        if (released_.erase(path) != 0 && Held(path)) locker_.SetItemLocked(path, true);
    }
}

bool GuardCore::ApplyStoredItems(const std::vector<std::wstring>& stored) {
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
    for (const std::wstring& path : items_) {
        if (std::find(before.begin(), before.end(), path) == before.end()) locker_.SetItemLocked(path, true);
    }
    Hold(policyBefore, policyAfter);
    return true;
}

bool GuardCore::ApplyPolicyItems(const std::vector<std::wstring>& policy) {
    std::vector<std::wstring> next;
    for (const std::wstring& path : policy) {
        if (!ContainsIgnoringCase(next, path)) next.push_back(path);
    }
    if (next == policy_) return false;
    const std::vector<std::wstring> before = PolicyOnly(items_);
    policy_ = std::move(next);
    const std::vector<std::wstring> after = PolicyOnly(items_);
    LetGo(before, after);
    Hold(before, after);
    // A stored item the policy names now stays locked, also where a window unlocked it.
    const std::vector<std::wstring> unlocked = unlockedOrder_;
    for (const std::wstring& path : unlocked) {
        if (SetByPolicy(path)) Relock(path);
    }
    return true;
}

std::vector<std::wstring> GuardCore::ListedItems() const {
    std::vector<std::wstring> listed = items_;
    const std::vector<std::wstring> policyOnly = PolicyOnly(items_);
    listed.insert(listed.end(), policyOnly.begin(), policyOnly.end());
    return listed;
}

bool GuardCore::SetByPolicy(const std::wstring& path) const { return ContainsIgnoringCase(policy_, path); }

std::vector<std::wstring> GuardCore::PolicyOnly(const std::vector<std::wstring>& stored) const {
    std::vector<std::wstring> only;
    for (const std::wstring& path : policy_) {
        if (!ContainsIgnoringCase(stored, path)) only.push_back(path);
    }
    return only;
}

void GuardCore::LetGo(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    for (const std::wstring& path : before) {
        if (Contains(after, path)) continue;
        if (!IsReleased(path)) locker_.SetItemLocked(path, false);
        released_.erase(path);
    }
}

void GuardCore::Hold(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    for (const std::wstring& path : after) {
        if (!Contains(before, path)) locker_.SetItemLocked(path, true);
    }
}

void GuardCore::Connect(ConnectionId connection, const std::wstring& user) { connected_[connection] = user; }

const std::wstring& GuardCore::UserOf(ConnectionId connection) const {
    static const std::wstring nobody;
    const auto found = connected_.find(connection);
    return found == connected_.end() ? nobody : found->second;
}

void GuardCore::Disconnect(ConnectionId connection) {
    connected_.erase(connection);
    sessions_.erase(connection);
    authenticated_.erase(connection);
    std::vector<std::wstring> relock;
    for (const auto& [path, owner] : unlockedBy_) {
        if (owner == connection) relock.push_back(path);
    }
    for (const std::wstring& path : relock) Relock(path);
}

void GuardCore::SetRelockSource(std::function<RelockSettings()> settings, Clock wallClock) {
    relockSettings_ = std::move(settings);
    wallClock_ = std::move(wallClock);
}

void GuardCore::LeaveSession(std::uint32_t session) {
    if (unlockedBy_.empty() || !relockSettings_().onSessionLock) return;
    std::vector<std::wstring> relock;
    for (const auto& [path, owner] : unlockedBy_) {
        // A client whose session could not be learnt counts as in every session.
        const auto found = sessions_.find(owner);
        if (found == sessions_.end() || found->second == session) relock.push_back(path);
    }
    for (const std::wstring& path : relock) Relock(path);
}

void GuardCore::RelockDue() {
    if (unlockedBy_.empty()) return;
    for (const std::wstring& path : relockSchedule_.Due(wallClock_(), relockSettings_().minutes)) {
        // Relocked, removed or let go since: only forgotten.
        if (IsUnlocked(path)) Relock(path);
        relockSchedule_.Relocked(path);
    }
}

GuardReply GuardCore::Reply(ConnectionId connection, const GuardMessage& request,
                            const std::optional<ItemCheck>& checked) {
    if (!IsGuardRequest(request.kind)) return {GuardMessage::Refusal(GuardRefusal::UnknownRequest)};
    if (request.kind == GuardMessageKind::Leave) {
        authenticated_.erase(connection);
        return {GuardMessage::Done()};
    }
    if (request.kind == GuardMessageKind::Authenticate) {
        std::wstring stored;
        if (store_.ReadPassword(stored) != 0) {
            // Not a guess: nothing is counted against the user.
            authenticated_.erase(connection);
            return {GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kPasswordUnreadable)};
        }
        const bool right = LowerCase(request.text) == LowerCase(stored);
        const std::uint64_t now = clock_();
        const std::uint64_t answer = throttle_.Attempt(UserOf(connection), right, now);
        if (!right) {
            authenticated_.erase(connection);
            return {GuardMessage::Refusal(GuardRefusal::WrongPassword), answer - now};
        }
        authenticated_.insert(connection);
        return {GuardMessage::Done(), answer - now};
    }
    if (authenticated_.count(connection) == 0) return {GuardMessage::Refusal(GuardRefusal::NotAuthenticated)};
    switch (request.kind) {
    case GuardMessageKind::ReadLists:
        return {Lists()};
    case GuardMessageKind::LockFolder:
        return {LockFolder(connection, request.text, checked)};
    case GuardMessageKind::UnlockItem:
        return {Unlock(connection, request.text)};
    case GuardMessageKind::RelockItem:
        return {Relock(request.text)};
    case GuardMessageKind::RemoveItem:
        return {Remove(request.text)};
    case GuardMessageKind::SetPassword:
        return {SetPassword(request.text)};
    default:
        return {GuardMessage::Refusal(GuardRefusal::UnknownRequest)};
    }
}

GuardMessage GuardCore::Lists() const {
    GuardMessage lists;
    lists.kind = GuardMessageKind::Lists;
    std::vector<std::wstring> locked;
    for (const std::wstring& path : ListedItems()) {
        if (!IsUnlocked(path)) locked.push_back(path);
    }
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
    if (EncodeGuardMessage(lists).empty()) return GuardMessage::Refusal(GuardRefusal::TooLarge);
    return lists;
}

std::vector<std::wstring>::const_iterator GuardCore::ListedAs(const std::wstring& path) const {
    return std::find_if(items_.begin(), items_.end(),
                        [&path](const std::wstring& item) { return EqualsIgnoringCase(item, path); });
}

bool GuardCore::NeedsCheck(ConnectionId connection, const GuardMessage& request) const {
    return request.kind == GuardMessageKind::LockFolder && IsAuthenticated(connection) && !SetByPolicy(request.text) &&
           ListedAs(request.text) == items_.end();
}

GuardMessage GuardCore::LockFolder(ConnectionId connection, const std::wstring& path,
                                   const std::optional<ItemCheck>& checked) {
    // Locked for the policy already, and never stored a second time.
    if (SetByPolicy(path)) return GuardMessage::Done(false);
    const auto listed = ListedAs(path);
    if (listed != items_.end()) {
        // Already listed: locking it again is relocking it, if it was unlocked.
        if (!IsUnlocked(*listed)) return GuardMessage::Done(false);
        return Relock(*listed);
    }
    const std::wstring refusal = checked && checked->path == path ? checked->refusal
                                                                  : gate_.RefusalFor(connection, path);
    if (!refusal.empty()) return GuardMessage::Refusal(GuardRefusal::ItemRefused, refusal);
    GuardMessage notSaved;
    if (!TakeStored(notSaved)) return notSaved;
    // Stored by someone else meanwhile, and locked with what they stored.
    if (ListedAs(path) != items_.end()) return GuardMessage::Done(true);
    std::vector<std::wstring> items = items_;
    items.push_back(path);
    if (!Save(items, notSaved)) return notSaved;
    locker_.SetItemLocked(path, true);
    return GuardMessage::Done(true);
}

GuardReply ReplyCheckedOutside(GuardCore& core, std::mutex& lock, ConnectionId connection, const GuardMessage& request,
                               const std::function<void(const GuardReply&)>& then) {
    bool needsCheck = false;
    {
        std::lock_guard<std::mutex> hold(lock);
        needsCheck = core.NeedsCheck(connection, request);
    }
    std::optional<ItemCheck> checked;
    if (needsCheck) checked = core.Check(connection, request.text);
    std::lock_guard<std::mutex> hold(lock);
    GuardReply reply = core.Reply(connection, request, checked);
    if (then) then(reply);
    return reply;
}

GuardMessage GuardCore::Unlock(ConnectionId connection, const std::wstring& path) {
    if (SetByPolicy(path)) return GuardMessage::Refusal(GuardRefusal::SetByPolicy, kSetByPolicyText);
    if (!OnList(path) || IsUnlocked(path)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    if (Held(path)) locker_.SetItemLocked(path, false);
    unlockedBy_[path] = connection;
    unlockedOrder_.push_back(path);
    relockSchedule_.Unlocked(path, wallClock_());
    return GuardMessage::Done(true);
}

GuardMessage GuardCore::Relock(const std::wstring& path) {
    if (!IsUnlocked(path)) return GuardMessage::Refusal(GuardRefusal::NotOnList);
    unlockedBy_.erase(path);
    Erase(unlockedOrder_, path);
    relockSchedule_.Relocked(path);
    // An item of a drive being removed is locked again with the others of that drive.
    if (Held(path)) locker_.SetItemLocked(path, true);
    return GuardMessage::Done(true);
}

GuardMessage GuardCore::Remove(const std::wstring& path) {
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
    if (wasHeld) locker_.SetItemLocked(path, false);
    return GuardMessage::Done(true);
}

GuardMessage GuardCore::SetPassword(const std::wstring& password) {
    const long code = store_.SavePassword(password);
    if (code != 0) return GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(code));
    return GuardMessage::Done(false);
}

bool GuardCore::TakeStored(GuardMessage& refusal) {
    std::vector<std::wstring> stored;
    const long code = store_.ReadItems(stored);
    if (code != 0) {
        refusal = GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(code));
        return false;
    }
    ApplyStoredItems(stored);
    return true;
}

bool GuardCore::Save(const std::vector<std::wstring>& items, GuardMessage& refusal) {
    const long code = store_.SaveItems(items);
    if (code == 0) {
        items_ = items;
        return true;
    }
    // A save stopped halfway leaves part of it stored: the list is what is
    // stored, and the window is told so.
    std::vector<std::wstring> stored;
    const bool partly = store_.ReadItems(stored) == 0 && ApplyStoredItems(stored);
    refusal = GuardMessage::Refusal(GuardRefusal::NotSaved, NotSavedText(code, partly));
    return false;
}

bool GuardCore::OnList(const std::wstring& path) const {
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
