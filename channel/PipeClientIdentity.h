#pragma once
// Who a client of the guard's pipe is: its process's user before it sends
// anything, the token it presents with its first message, and whether that
// token is an elevated administrator's.
#include <windows.h>

#include <string>

#include "common/UniqueHandle.h"

namespace vaultmere {

// The SID of a token's user as text; "" when it cannot be read.
std::wstring UserOfToken(HANDLE token);

// The user of a client process as its SID text, "" when it cannot be read
// (a protected process, say): known before it sends anything, which the
// client's own token is not.
std::wstring UserOfProcess(DWORD process);

// Who the client whose last message was read is: its SID as text and a
// token to check its access with (an impersonation token, as AccessCheck
// takes it). false when the client cannot be identified; it is then served
// nothing.
bool IdentifyClient(HANDLE pipe, std::wstring& user, UniqueHandle& token);

// Whether a client's token (as GuardPipeServer::ClientToken gives it) has
// the Administrators group enabled: an administrator's elevated program,
// never the filtered token the same administrator's other programs run with.
bool IsElevatedAdministrator(HANDLE token);

}  // namespace vaultmere
