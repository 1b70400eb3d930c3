#include "guard/GuardEvents.h"

#include <sddl.h>

#include <vector>

#include "channel/GuardPipe.h"
#include "common/EntryPoint.h"
#include "common/LockBudget.h"
#include "common/PasswordVerifier.h"
#include "guard/GuardEventTexts.h"

namespace vaultmere {

namespace {

std::wstring ProcessText(DWORD process) {
    return process != 0 ? L"process id " + std::to_wstring(process) : std::wstring(L"process id unknown");
}

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
    std::wstring name;
    {
        const std::lock_guard<std::mutex> hold(namesLock_);
        auto known = names_.find(user);
        if (known == names_.end()) known = names_.emplace(user, AccountName(user)).first;
        name = known->second;
    }
    UniqueLocalMemory sid;
    const wchar_t* strings[] = {name.c_str(), user.c_str()};
    return ::ReportEventW(source_.Get(), EVENTLOG_WARNING_TYPE, 0, MSG_WRONG_PASSWORD,
                          SidOf(user, sid) ? sid.Get() : nullptr, 2, 0, strings, nullptr) != FALSE;
}

bool GuardEvents::Report(WORD type, DWORD id, std::initializer_list<std::wstring> texts) {
    if (!source_) return false;
    std::vector<const wchar_t*> strings;
    for (const std::wstring& text : texts) strings.push_back(text.c_str());
    return ::ReportEventW(source_.Get(), type, 0, id, nullptr, static_cast<WORD>(strings.size()), 0, strings.data(),
                          nullptr) != FALSE;
}

bool GuardEvents::PipeTaken(const std::wstring& pipeName, DWORD holder, DWORD error) {
    return Report(EVENTLOG_WARNING_TYPE, MSG_PIPE_TAKEN,
                  {pipeName, ProcessText(holder), L"error " + std::to_wstring(error)});
}

bool GuardEvents::PipeServed(const std::wstring& pipeName) {
    return Report(EVENTLOG_INFORMATION_TYPE, MSG_PIPE_SERVED, {pipeName});
}

bool GuardEvents::PasswordUnreadable(long error) {
    return Report(EVENTLOG_ERROR_TYPE, MSG_PASSWORD_UNREADABLE, {L"error " + std::to_wstring(error)});
}

bool GuardEvents::PasswordUntypable() {
    return Report(EVENTLOG_ERROR_TYPE, MSG_PASSWORD_UNTYPABLE, {std::to_wstring(kMaxPasswordLength)});
}

void GuardEvents::UnexpectedError(const std::wstring& text) {
    const UniqueEventSource source(::RegisterEventSourceW(nullptr, kGuardServiceName));
    const wchar_t* strings[] = {text.c_str()};
    if (source)
        ::ReportEventW(source.Get(), EVENTLOG_ERROR_TYPE, 0, MSG_UNEXPECTED_ERROR, nullptr, 1, 0, strings, nullptr);
    LogToDebugger(text);
}

bool GuardEvents::FolderRefused(const std::wstring& folder) {
    return Report(EVENTLOG_WARNING_TYPE, MSG_FOLDER_REFUSED, {folder});
}

bool GuardEvents::LockLimitIgnored(const std::wstring& place, const std::wstring& value, std::size_t handles) {
    return Report(EVENTLOG_WARNING_TYPE, MSG_LOCK_LIMIT_IGNORED,
                  {place, value, GroupedNumber(kMaxLockedFilesCeiling), GroupedNumber(handles)});
}

}  // namespace vaultmere
