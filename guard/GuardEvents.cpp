#include "guard/GuardEvents.h"

#include <sddl.h>

#include "channel/GuardPipe.h"
#include "guard/GuardEventTexts.h"

namespace vaultmere {

namespace {

bool SidOf(const std::wstring& text, UniqueLocalMemory& sid) {
    return ::ConvertStringSidToSidW(text.c_str(), reinterpret_cast<PSID*>(sid.Put())) != FALSE;
}

}  // namespace

GuardEvents::GuardEvents() : source_(::RegisterEventSourceW(nullptr, kGuardServiceName)) {}

std::wstring GuardEvents::AccountName(const std::wstring& user) {
    UniqueLocalMemory sid;
    if (!SidOf(user, sid)) return user;
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!::LookupAccountSidW(nullptr, sid.Get(), name, &nameLength, domain, &domainLength, &use)) return user;
    return domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

bool GuardEvents::WrongPassword(const std::wstring& user) {
    if (!source_) return false;
    auto known = names_.find(user);
    if (known == names_.end()) known = names_.emplace(user, AccountName(user)).first;
    UniqueLocalMemory sid;
    const wchar_t* strings[] = {known->second.c_str(), user.c_str()};
    return ::ReportEventW(source_.Get(), EVENTLOG_WARNING_TYPE, 0, MSG_WRONG_PASSWORD,
                          SidOf(user, sid) ? sid.Get() : nullptr, 2, 0, strings, nullptr) != FALSE;
}

bool GuardEvents::FolderRefused(const std::wstring& folder) {
    if (!source_) return false;
    const wchar_t* strings[] = {folder.c_str()};
    return ::ReportEventW(source_.Get(), EVENTLOG_WARNING_TYPE, 0, MSG_FOLDER_REFUSED, nullptr, 1, 0, strings,
                          nullptr) != FALSE;
}

}  // namespace vaultmere
