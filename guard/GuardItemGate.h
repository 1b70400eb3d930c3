#pragma once
// The checks the guard makes itself of a folder a window asks to lock.
#include <windows.h>

#include <functional>
#include <string>

#include "guard/ListKeeper.h"

namespace vaultmere {

// Whether a token's user may list a folder, as Windows would decide it.
enum class FolderAccess {
    Granted,
    Denied,
    Missing,  // the folder is not there
    Unknown,  // no token, or the folder's security could not be read
};

// Checks FILE_LIST_DIRECTORY on the folder's security descriptor against
// token, an impersonation token (identification level is enough); the
// folder by name, or open with READ_CONTROL.
FolderAccess MayListFolder(HANDLE token, const std::wstring& folder);
FolderAccess MayListFolder(HANDLE token, HANDLE folder);
// The same for any access to a file or folder.
FolderAccess MayAccess(HANDLE token, const std::wstring& path, DWORD access);

// What the user is told when the check does not grant the folder; "" for Granted.
std::wstring FolderAccessRefusal(FolderAccess access);

// What LockRule refuses, and shares, are refused whoever
// asks; any other folder only if the asking user may not list it or read
// every file it would lock: the
// guard runs as the computer and must not lock for a user what that user
// could not open. A folder with its subfolders is refused when it holds
// one of those folders, when the user may not list every folder in it, or
// when it holds more than treeLimit files and folders (the locker's
// budget's). tokenOf gives a connection's client token (null when there is
// none, which refuses).
class GuardItemGate final : public ItemGate {
public:
    GuardItemGate(std::function<HANDLE(ConnectionId)> tokenOf, std::size_t treeLimit)
        : tokenOf_(std::move(tokenOf)), treeLimit_(treeLimit) {}
    std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) override {
        ApprovedFolder ignored;
        return Approve(connection, path, ignored);
    }
    // The folder is opened once, with no link on its path; the rule and
    // the user's access are judged on that handle, and its identity is what
    // is approved.
    std::wstring Approve(ConnectionId connection, const std::wstring& path, ApprovedFolder& approved) override;

private:
    std::function<HANDLE(ConnectionId)> tokenOf_;
    std::size_t treeLimit_;
};

}  // namespace vaultmere
