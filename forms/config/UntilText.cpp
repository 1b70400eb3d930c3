#include "forms/config/UntilText.h"

#include <windows.h>

namespace vaultmere {

std::wstring UntilText(std::uint64_t relockAt) {
    if (relockAt == 0) return std::wstring();
    const FILETIME utc{static_cast<DWORD>(relockAt), static_cast<DWORD>(relockAt >> 32)};
    SYSTEMTIME utcTime{};
    SYSTEMTIME local{};
    SYSTEMTIME today{};
    wchar_t time[64] = {};
    if (!::FileTimeToSystemTime(&utc, &utcTime) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local) ||
        ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, 64) == 0) {
        return std::wstring();
    }
    ::GetLocalTime(&today);
    wchar_t date[64] = {};
    if ((local.wYear != today.wYear || local.wMonth != today.wMonth || local.wDay != today.wDay) &&
        ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 64, nullptr) != 0) {
        return std::wstring(L"until ") + date + L" " + time;
    }
    return std::wstring(L"until ") + time;
}

}  // namespace vaultmere
