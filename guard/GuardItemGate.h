#pragma once
// The guard's way of asking the admission rule: for the client's user.
#include <windows.h>

#include <functional>
#include <string>

#include "guard/ListKeeper.h"

namespace vaultmere {

// The guard runs as the computer and must not lock for a user what that
// user could not open: the rule (locker/Admission.h) is asked with the
// client's token, shares are refused, and a tree may hold no more than
// treeLimit files and folders (the locker's budget's). tokenOf gives a
// connection's client token (null when there is none, which refuses).
class GuardItemGate final : public ItemGate {
public:
    GuardItemGate(std::function<HANDLE(ConnectionId)> tokenOf, std::size_t treeLimit)
        : tokenOf_(std::move(tokenOf)), treeLimit_(treeLimit) {}
    std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) override {
        ApprovedFolder ignored;
        return Approve(connection, path, ignored);
    }
    std::wstring Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) override;

private:
    std::function<HANDLE(ConnectionId)> tokenOf_;
    std::size_t treeLimit_;
};

}  // namespace vaultmere
