#include "cli/StatusReport.h"

#include "forms/config/ItemBook.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

// value in digits decimal digits, or hexadecimal ones, with leading zeros.
std::wstring Digits(std::uint64_t value, int digits, unsigned base = 10) {
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0 && value != 0; --i, value /= base) text[i] = L"0123456789abcdef"[value % base];
    return text;
}

// text as a JSON string, quotes and all, in ASCII.
std::wstring JsonText(const std::wstring& text) {
    std::wstring json = L"\"";
    auto escape = [&json](std::uint32_t unit) { json += L"\\u" + Digits(unit, 4, 16); };
    for (const wchar_t ch : text) {
        const auto unit = static_cast<std::uint32_t>(ch);
        if (ch == L'"' || ch == L'\\') {
            json += L'\\';
            json += ch;
        } else if (unit >= 0x20 && unit < 0x7F) {
            json += ch;
        } else if (unit > 0xFFFF) {
            // A wchar_t wider than UTF-16 (not on Windows): its surrogate pair.
            escape(0xD800 + ((unit - 0x10000) >> 10));
            escape(0xDC00 + ((unit - 0x10000) & 0x3FF));
        } else {
            escape(unit);
        }
    }
    return json + L"\"";
}

// A UTC file time (100 ns units since 1601) as "2026-05-01T14:35:00Z".
std::wstring UtcTimeText(std::uint64_t fileTime) {
    const std::uint64_t seconds = fileTime / 10000000;
    // Days from 1601-01-01, then from 0000-03-01 (the civil calendar's
    // year starting in March, so that leap days fall at its end).
    const std::uint64_t days = seconds / 86400 + 584694;
    const std::uint64_t era = days / 146097;
    const std::uint64_t dayOfEra = days - era * 146097;
    const std::uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const std::uint64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const std::uint64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const std::uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const std::uint64_t time = seconds % 86400;
    return Digits(year, 4) + L"-" + Digits(month, 2) + L"-" + Digits(day, 2) + L"T" + Digits(time / 3600, 2) + L":" +
           Digits(time / 60 % 60, 2) + L":" + Digits(time % 60, 2) + L"Z";
}

std::wstring JsonItem(const Item& item, const ItemStatus& status, bool unlocked, std::uint64_t relockAt) {
    const ItemKey& key = item.Parsed();
    const bool named = key.target.kind != ItemTarget::Kind::Refused;
    return L"{\"item\":" + JsonText(item.Text()) + L",\"folder\":" + (named ? JsonText(key.target.folder) : L"null") +
           L",\"subfolders\":" + (key.tree ? L"true" : L"false") + L",\"state\":" +
           (unlocked ? L"\"unlocked\"" : L"\"locked\"") + L",\"policy\":" + (status.setByPolicy ? L"true" : L"false") +
           L",\"note\":" + JsonText(StatusNote(status)) + L",\"relockAt\":" +
           (relockAt != 0 ? L"\"" + UtcTimeText(relockAt) + L"\"" : L"null") + L"}";
}

std::uint64_t RelockAt(const GuardMessage& lists, std::size_t unlocked) {
    return unlocked < lists.unlockedRelockAt.size() ? lists.unlockedRelockAt[unlocked] : 0;
}

}  // namespace

std::wstring StatusText(const GuardMessage& lists, const std::function<std::wstring(std::uint64_t)>& until) {
    std::wstring text;
    auto line = [&text](const wchar_t* state, const std::wstring& item, const std::wstring& note) {
        text += state + item + (note.empty() ? L"" : L"  (" + note + L")") + L"\n";
    };
    for (const ListedItem& item : lists.locked)
        line(L"locked    ", item.item.Text(), EntryNote(item.item, item.status));
    for (std::size_t i = 0; i < lists.unlocked.size(); ++i) {
        std::wstring note = EntryNote(lists.unlocked[i], ItemStatus());
        const std::wstring when = until ? until(RelockAt(lists, i)) : std::wstring();
        if (!when.empty()) note += (note.empty() ? L"" : L", ") + when;
        line(L"unlocked  ", lists.unlocked[i].Text(), note);
    }
    return text.empty() ? L"No folder is on the list.\n" : text;
}

std::wstring StatusJson(const GuardMessage& lists) {
    std::wstring json = L"{\"items\":[";
    for (const ListedItem& item : lists.locked) {
        json += (json.back() == L'[' ? L"" : L",") + JsonItem(item.item, item.status, false, 0);
    }
    for (std::size_t i = 0; i < lists.unlocked.size(); ++i) {
        json += (json.back() == L'[' ? L"" : L",") +
                JsonItem(lists.unlocked[i], ItemStatus(), true, RelockAt(lists, i));
    }
    return json + L"],\"relocksOnSessionLock\":" + (lists.relocksOnSessionLock ? L"true" : L"false") + L"}\n";
}

}  // namespace vaultmere
