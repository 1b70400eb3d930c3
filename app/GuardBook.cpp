#include "app/GuardBook.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "common/RelockSchedule.h"
#include "common/SecureText.h"

namespace vaultmere {

std::wstring RefusalText(const GuardMessage& answer) {
    if (answer.kind != GuardMessageKind::Refused) return L"Vaultmere Guard gave an answer this program does not know.";
    if (!answer.text.empty()) return answer.text;
    switch (static_cast<GuardRefusal>(answer.code)) {
    case GuardRefusal::NotAuthenticated:
    case GuardRefusal::WrongPassword:
        return L"Vaultmere Guard did not accept the password. Nothing was changed.";
    case GuardRefusal::NotOnList:
        return L"This item is no longer on the list: it was changed in another window.";
    case GuardRefusal::TooLarge:
        return L"The list is too long for Vaultmere Guard to send.";
    default:
        return L"Vaultmere Guard refused the request. Nothing was changed.";
    }
}

std::optional<GuardMessage> GuardBook::Ask(const GuardMessage& request, std::wstring& message) {
    const std::unique_lock<std::timed_mutex> hold(linkLock_, std::try_to_lock);
    if (!hold.owns_lock()) {
        message = kGuardBusy;
        return std::nullopt;
    }
    std::optional<GuardMessage> answer = link_.Exchange(request);
    if (answer && answer->kind == GuardMessageKind::Refused &&
        answer->code == static_cast<std::uint32_t>(GuardRefusal::NotAuthenticated) && accepted_) {
        // A new connection: the password once more, then the request.
        const std::optional<GuardMessage> again = link_.Exchange(
            GuardMessage::Request(GuardMessageKind::Authenticate, *accepted_));
        if (again && again->kind == GuardMessageKind::Done) answer = link_.Exchange(request);
    }
    if (!answer) {
        message = link_.Problem();
        if (message.empty()) message = kGuardNotAnswering;
    }
    return answer;
}

void GuardBook::Take(const GuardMessage& lists) {
    std::vector<Item> locked;
    statuses_.clear();
    for (const ListedItem& item : lists.locked) {
        locked.push_back(item.item);
        statuses_.push_back(item.status);
    }
    lockedList.Replace(std::move(locked));
    unlockedList.Replace(lists.unlocked);
    relockTimes_ = lists.unlockedRelockAt;
    relocksOnSessionLock_ = lists.relocksOnSessionLock;
}

bool GuardBook::Reload() {
    std::wstring ignored;
    const std::optional<GuardMessage> answer = Ask(GuardMessage::Request(GuardMessageKind::ReadLists), ignored);
    if (!answer || answer->kind != GuardMessageKind::Lists) return false;
    // Written another way counts as a change: the entries show the new text.
    const auto sameTexts = [](const std::vector<Item>& left, const std::vector<Item>& right) {
        return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                          [](const Item& l, const Item& r) { return l.SameText(r); });
    };
    const bool changed = !sameTexts(answer->unlocked, unlockedList.Entries()) ||
                         answer->unlockedRelockAt != relockTimes_ || [&] {
                             if (answer->locked.size() != lockedList.Entries().size()) return true;
                             for (std::size_t i = 0; i < answer->locked.size(); ++i) {
                                 if (!answer->locked[i].item.SameText(lockedList.Entries()[i])) return true;
                             }
                             return false;
                         }();
    Take(*answer);
    return changed;
}

BookResult GuardBook::Command(GuardMessageKind kind, const std::wstring& path, const std::function<void()>& listed) {
    BookResult result;
    const std::optional<GuardMessage> answer = Ask(GuardMessage::Request(kind, path), result.message);
    if (!answer) return result;
    if (answer->kind != GuardMessageKind::Done) {
        result.message = RefusalText(*answer);
        result.itemRefused = answer->code == static_cast<std::uint32_t>(GuardRefusal::ItemRefused);
        // Refused as no longer listed: another window changed the lists.
        result.changed = Reload();
        return result;
    }
    result.changed = answer->code != 0;
    Reload();
    if (result.changed && listed) listed();
    return result;
}

BookResult GuardBook::LockNewItem(const std::wstring& path, const std::function<void()>& listed) {
    return Command(GuardMessageKind::LockFolder, path, listed);
}

BookResult GuardBook::UnlockSelected() {
    const std::wstring entry = lockedList.SelectedText();
    if (entry.empty()) return BookResult();
    return Command(GuardMessageKind::UnlockItem, entry, nullptr);
}

BookResult GuardBook::RelockSelected() {
    const std::wstring entry = unlockedList.SelectedText();
    if (entry.empty()) return BookResult();
    return Command(GuardMessageKind::RelockItem, entry, nullptr);
}

BookResult GuardBook::RemoveSelected(const RemoveConfirmation& confirm) {
    const std::wstring entry = lockedList.SelectedText();
    if (entry.empty()) return BookResult();
    // Nothing to confirm where the guard refuses anyway: it says why.
    const auto index = static_cast<std::size_t>(lockedList.ListIndex());
    const bool byPolicy = index < statuses_.size() && statuses_[index].setByPolicy;
    if (!byPolicy && (!confirm || !confirm(entry))) return BookResult();
    return Command(GuardMessageKind::RemoveItem, entry, nullptr);
}

PasswordCheck GuardBook::CheckPassword(const std::wstring& entry) {
    const std::lock_guard<std::timed_mutex> hold(linkLock_);
    PasswordCheck check;
    const std::optional<GuardMessage> answer = link_.Exchange(
        GuardMessage::Request(GuardMessageKind::Authenticate, entry));
    if (!answer) {
        check.message = link_.Problem();
        if (check.message.empty()) check.message = kGuardNotAnswering;
        return check;
    }
    check.accepted = answer->kind == GuardMessageKind::Done;
    check.waitMs = answer->kind == GuardMessageKind::Refused ? answer->waitMs : 0;
    // A wrong password also ends what an earlier right one opened.
    WipeAccepted();
    if (check.accepted) accepted_ = entry;
    // Why no password can be taken now (the stored one cannot be read) is
    // said until the next check.
    passwordNotice_.clear();
    if (!check.accepted && answer->kind == GuardMessageKind::Refused &&
        answer->code != static_cast<std::uint32_t>(GuardRefusal::WrongPassword)) {
        passwordNotice_ = check.message = RefusalText(*answer);
    }
    return check;
}

BookResult GuardBook::SetPassword(const std::wstring& password) {
    BookResult result;
    const std::optional<GuardMessage> answer = Ask(GuardMessage::Request(GuardMessageKind::SetPassword, password),
                                                   result.message);
    if (!answer) return result;
    const bool kept = answer->kind == GuardMessageKind::Refused &&
                      answer->code == static_cast<std::uint32_t>(GuardRefusal::KeptUnsaved);
    if (answer->kind != GuardMessageKind::Done) result.message = RefusalText(*answer);
    if (answer->kind != GuardMessageKind::Done && !kept) return result;
    // A connection made anew gives the new password.
    const std::lock_guard<std::timed_mutex> hold(linkLock_);
    WipeAccepted();
    accepted_ = password;
    result.changed = true;
    return result;
}

std::wstring GuardBook::Notice() const {
    const std::lock_guard<std::timed_mutex> hold(linkLock_);
    const std::wstring problem = link_.Problem();
    return problem.empty() ? passwordNotice_ : problem;
}

void GuardBook::WipeAccepted() {
    if (accepted_) WipeText(*accepted_);
    accepted_.reset();
}

std::optional<GuardMessage> GuardBook::Leave(GuardMessageKind kind) {
    WipeAccepted();
    // Read again when the window opens; until then nothing is due here.
    relockTimes_.clear();
    // Where the keeper cannot be told, its connection is gone, and the
    // password with it.
    return link_.Exchange(GuardMessage::Request(kind));
}

void GuardBook::Forget() {
    const std::unique_lock<std::timed_mutex> hold(linkLock_, std::try_to_lock);
    // A password check under way decides anew what the connection may do.
    if (hold.owns_lock()) Leave(GuardMessageKind::Leave);
}

BookResult GuardBook::Close() {
    BookResult result;
    // What is kept back for Close is saved only here, so a check under way
    // is waited for; the guard holds a check back for half a minute at
    // most, and the window is not held that long.
    std::unique_lock<std::timed_mutex> hold(linkLock_, std::chrono::milliseconds(kCloseWaitMs));
    if (!hold.owns_lock()) {
        result.message = kGuardBusy;
        return result;
    }
    const std::optional<GuardMessage> answer = Leave(GuardMessageKind::Close);
    if (answer && answer->kind != GuardMessageKind::Done) result.message = RefusalText(*answer);
    return result;
}

void GuardBook::Begin() {
    const std::lock_guard<std::timed_mutex> hold(linkLock_);
    link_.Begin();
}

void GuardBook::Tick() {
    const std::lock_guard<std::timed_mutex> hold(linkLock_);
    link_.Tick();
}

bool GuardBook::RelockDue() {
    const std::uint64_t now = UtcFileTimeNow();
    const bool due = std::any_of(relockTimes_.begin(), relockTimes_.end(),
                                 [now](std::uint64_t at) { return at != 0 && at <= now; });
    return due && Reload();
}

bool GuardBook::LeaveSession() {
    {
        // A keeper in this process must hear it: a check under way is waited for.
        const std::unique_lock<std::timed_mutex> hold(linkLock_, std::chrono::milliseconds(kCloseWaitMs));
        if (hold.owns_lock()) link_.SessionLeft();
    }
    Reload();
    return relocksOnSessionLock_;
}

}  // namespace vaultmere
