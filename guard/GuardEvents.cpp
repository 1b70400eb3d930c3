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

// Items one to a line, as the entry shows them.
std::wstring LinesOf(const std::vector<std::wstring>& items) {
    if (items.empty()) return L"none";
    std::wstring lines;
    for (const std::wstring& item : items) lines += (lines.empty() ? L"" : L"\r\n") + item;
    return lines;
}

std::wstring FaultWords(ItemFault fault) {
    switch (fault) {
    case ItemFault::None:
        break;
    case ItemFault::NotFullPath:
        return L"it is not a full path on a drive or a share";
    case ItemFault::TooLong:
        return L"it is longer than " + GroupedNumber(kMaxItemPathLength) + L" characters";
    case ItemFault::NamesNoFiles:
        return L"it ends in a backslash, so it names no files";
    case ItemFault::WildcardInFolder:
        return L"the name of a folder in it holds * or ?";
    }
    return std::wstring();
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

std::wstring GuardEvents::NameOf(const std::wstring& user) {
    if (user.empty()) return L"an unknown user";
    const std::lock_guard<std::mutex> hold(namesLock_);
    auto known = names_.find(user);
    if (known == names_.end()) known = names_.emplace(user, AccountName(user)).first;
    return known->second;
}

bool GuardEvents::WrongPassword(const std::wstring& user) {
    return Report(EVENTLOG_WARNING_TYPE, MSG_WRONG_PASSWORD, {NameOf(user), user}, user);
}

bool GuardEvents::Report(WORD type, DWORD id, std::initializer_list<std::wstring> texts, const std::wstring& user) {
    if (!source_) return false;
    std::vector<const wchar_t*> strings;
    for (const std::wstring& text : texts) strings.push_back(text.c_str());
    // The entry's user, which Event Viewer shows and a subscription can filter on.
    UniqueLocalMemory sid;
    return ::ReportEventW(source_.Get(), type, 0, id, !user.empty() && SidOf(user, sid) ? sid.Get() : nullptr,
                          static_cast<WORD>(strings.size()), 0, strings.data(), nullptr) != FALSE;
}

bool GuardEvents::ReportChange(DWORD id, const ChangeActor& by, const std::wstring& item) {
    return Report(EVENTLOG_INFORMATION_TYPE, id,
                  {NameOf(by.user), by.user.empty() ? std::wstring(L"no SID") : by.user,
                   by.session ? std::to_wstring(*by.session) : std::wstring(L"unknown"), item},
                  by.user);
}

void GuardEvents::Unlocked(const ChangeActor& by, const std::wstring& item) {
    ReportChange(MSG_ITEM_UNLOCKED, by, item);
}

void GuardEvents::Relocked(const ChangeActor& by, const std::wstring& item, RelockCause cause) {
    switch (cause) {
    case RelockCause::ByUser:
        ReportChange(MSG_ITEM_RELOCKED, by, item);
        break;
    case RelockCause::WindowClosed:
        ReportChange(MSG_RELOCKED_WINDOW_CLOSED, by, item);
        break;
    case RelockCause::SessionLocked:
        ReportChange(MSG_RELOCKED_SESSION_LOCKED, by, item);
        break;
    case RelockCause::TimeUp:
        ReportChange(MSG_RELOCKED_TIME_UP, by, item);
        break;
    case RelockCause::Policy:
        ReportChange(MSG_RELOCKED_BY_POLICY, by, item);
        break;
    }
}

void GuardEvents::Locked(const ChangeActor& by, const std::wstring& item) { ReportChange(MSG_ITEM_LOCKED, by, item); }

void GuardEvents::Removed(const ChangeActor& by, const std::wstring& item) { ReportChange(MSG_ITEM_REMOVED, by, item); }

void GuardEvents::PasswordSet(const ChangeActor& by) { ReportChange(MSG_PASSWORD_SET, by, std::wstring()); }

void GuardEvents::PolicyApplied(const std::vector<std::wstring>& added, const std::vector<std::wstring>& removed) {
    Report(EVENTLOG_INFORMATION_TYPE, MSG_POLICY_APPLIED, {LinesOf(added), LinesOf(removed)});
}

void GuardEvents::PolicyValueUnusable(const std::wstring& value, ItemFault why) {
    Report(EVENTLOG_WARNING_TYPE, MSG_POLICY_VALUE_UNUSABLE, {value, FaultWords(why)});
}

void GuardEvents::StoredItemUnusable(const std::wstring& item, ItemFault why) {
    Report(EVENTLOG_WARNING_TYPE, MSG_STORED_ITEM_UNUSABLE, {item, FaultWords(why)});
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
