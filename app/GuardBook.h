#pragma once
// The list and its locks as the keeper holds them: every command is a
// request on this copy's link to it, and the lists and notes shown are its
// answers. The keeper is the guard service's, or one in this process where
// there is no guard; the link is the same. No Windows headers.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/GuardMessage.h"
#include "forms/config/ItemBook.h"

namespace vaultmere {

// One connection to the keeper, kept while the program runs.
class GuardLink {
public:
    virtual ~GuardLink() = default;
    // The guard's answer; nothing when it could not be asked (then
    // Problem() says why). A connection that broke is made again once, so
    // an answer may come from a connection that has not given the password.
    virtual std::optional<GuardMessage> Exchange(const GuardMessage& request) = 0;
    // Why the guard cannot be asked now; "" when it can.
    virtual std::wstring Problem() const = 0;
    // Once a second while the program runs: a connection that is down is
    // tried again; a keeper in this process locks again what is due.
    virtual void Tick() {}
    // The resident copy starts: a keeper in this process locks the stored list.
    virtual void Begin() {}
    // This copy's session was locked or left to others: a keeper in this
    // process locks again what was unlocked (the guard has its own notice).
    virtual void SessionLeft() {}
};

// The texts the windows show for the guard's link.
constexpr wchar_t kGuardNotAnswering[] = L"Vaultmere Guard does not answer. Nothing was changed.";
constexpr wchar_t kGuardBusy[] = L"Vaultmere Guard is still checking a password. Nothing was changed.";

class GuardBook final : public ItemBook {
public:
    explicit GuardBook(GuardLink& link) : link_(link) {}

    void Begin() override;
    bool Reload() override;
    std::vector<ItemStatus> LockedStatus() const override { return statuses_; }

    BookResult LockNewItem(const std::wstring& path, const std::function<void()>& listed) override;
    BookResult UnlockSelected() override;
    BookResult RelockSelected() override;
    BookResult RemoveSelected(const RemoveConfirmation& confirm) override;

    PasswordCheck CheckPassword(const std::wstring& entry) override;
    BookResult SetPassword(const std::wstring& password) override;
    std::wstring Notice() const override;
    void Tick() override;
    // The keeper is told to ask for the password again, and the password
    // given for this window is wiped.
    void Forget() override;
    BookResult Close() override;
    std::vector<std::uint64_t> UnlockedRelockTimes() const override { return relockTimes_; }
    bool RelockDue() override;
    // The answer is whether a locked session relocks, as the last lists said.
    bool LeaveSession() override;

    // How long the window's Close waits for a password check under way
    // before it gives up.
    static constexpr int kCloseWaitMs = 3000;

private:
    // Leave or Close: the password is wiped and the keeper told.
    std::optional<GuardMessage> Leave(GuardMessageKind kind);
    void WipeAccepted();
    // The answer to request, giving the accepted password again to a
    // connection made anew (the guard restarted); nothing when the guard
    // could not be asked or a password check has the connection, with why
    // in message.
    std::optional<GuardMessage> Ask(const GuardMessage& request, std::wstring& message);
    // A command on one item, then the lists read again.
    BookResult Command(GuardMessageKind kind, const std::wstring& path, const std::function<void()>& listed);
    void Take(const GuardMessage& lists);

    // The password check may run on a thread of its own beside the windows'
    // requests: the connection and the accepted password are taken in turn,
    // and a window's request does not wait behind an answer the guard holds
    // back (it is refused as busy).
    mutable std::timed_mutex linkLock_;
    GuardLink& link_;
    // The password the guard last accepted, while the configuration window is open.
    std::optional<std::wstring> accepted_;
    std::wstring passwordNotice_;  // why the last password check could not be made
    std::vector<ItemStatus> statuses_;
    std::vector<std::uint64_t> relockTimes_;
    bool relocksOnSessionLock_ = true;
};

// What a window tells the user about a refusal from the guard.
std::wstring RefusalText(const GuardMessage& answer);

}  // namespace vaultmere
