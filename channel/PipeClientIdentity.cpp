#include "channel/PipeClientIdentity.h"

#include <sddl.h>

#include <vector>

namespace vaultmere {

std::wstring UserOfToken(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::wstring();
    UniqueLocalMemory text;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                  reinterpret_cast<LPWSTR*>(text.Put()))) {
        return std::wstring();
    }
    return static_cast<const wchar_t*>(text.Get());
}

std::wstring UserOfProcess(DWORD process) {
    const UniqueHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    UniqueHandle token;
    if (!handle || !::OpenProcessToken(handle.Get(), TOKEN_QUERY, token.Put())) return std::wstring();
    return UserOfToken(token.Get());
}

bool IdentifyClient(HANDLE pipe, std::wstring& user, UniqueHandle& token) {
    if (!::ImpersonateNamedPipeClient(pipe)) return false;
    const BOOL opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.Put());
    // Nothing else may run impersonated: a failure to revert ends the process.
    if (!::RevertToSelf()) ::ExitProcess(ERROR_CANNOT_IMPERSONATE);
    if (!opened) return false;
    TOKEN_TYPE type = TokenPrimary;
    SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenType, &type, sizeof type, &size)) return false;
    if (type == TokenImpersonation &&
        !::GetTokenInformation(token.Get(), TokenImpersonationLevel, &level, sizeof level, &size)) {
        return false;
    }
    // Kept at identification, whatever the client allowed: enough to check
    // its access, never to act as it.
    if (type != TokenImpersonation || level != SecurityIdentification) {
        UniqueHandle identification;
        if (!::DuplicateToken(token.Get(), SecurityIdentification, identification.Put())) return false;
        token = std::move(identification);
    }
    user = UserOfToken(token.Get());
    return !user.empty();
}

bool IsElevatedAdministrator(HANDLE token) {
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    // A group left in a filtered token only to deny access does not count.
    return token && ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           ::CheckTokenMembership(token, administrators, &member) && member;
}

}  // namespace vaultmere
