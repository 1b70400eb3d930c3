#pragma once
// The list and its locks as the guard service holds them: every command is
// a request on this copy's connection, and the lists and notes shown are the
// guard's answers. No Windows headers: the connection is a GuardLink.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/GuardMessage.h"
#include "forms/config/ItemBook.h"

namespace vaultmere {

// One connection to the guard, kept while the program runs.
class GuardLink {
public:
    virtual ~GuardLink() = default;
    // The guard's answer; nothing when it could not be asked (then
    // Problem() says why). A connection that broke is made again once, so
    // an answer may come from a connection that has not given the password.
    virtual std::optional<GuardMessage> Exchange(const GuardMessage& request) = 0;
    // Why the guard cannot be asked now; "" when it can.
    virtual std::wstring Problem() const = 0;
    // Tries again to connect when there is no connection.
    virtual void Retry() {}
};

// The texts the windows show for the guard.
constexpr wchar_t kGuardNotAnswering[] = L"Vaultmere Guard does not answer. Nothing was changed.";
constexpr wchar_t kGuardBusy[] = L"Vaultmere Guard is still checking a password. Nothing was changed.";

class GuardBook final : public ItemBook {
public:
    explicit GuardBook(GuardLink& link) : link_(link) {}

    bool StoresItself() const override { return true; }
    const std::vector<std::wstring>* ListToSave() const override { return nullptr; }
    // The guard holds the stored list; nothing is read here.
    void AddLockedItem(const std::wstring&) override {}
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
    // The guard is told to ask for the password again, and the password
    // given for this window is wiped.
    void Forget() override;
    std::vector<std::uint64_t> UnlockedRelockTimes() const override { return relockTimes_; }
    // The guard relocks them on its own notice of the session; the answer
    // is whether it does, as its last lists said.
    bool LeaveSession() override { return relocksOnSessionLock_; }

private:
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
    mutable std::mutex linkLock_;
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
