#include "common/TextCase.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <locale>
#include <stdexcept>
#endif

namespace vaultmere {

#ifndef _WIN32
namespace {

// The wide character functions follow the process's C locale, which lower-
// cases ASCII only unless the program chose another; a UTF-8 locale of its
// own gives Unicode's case mapping whatever the process's locale is.
const std::ctype<wchar_t>& UnicodeCase() {
    static const std::locale unicode = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            try {
                return std::locale(name);
            } catch (const std::runtime_error&) {
            }
        }
        return std::locale::classic();
    }();
    return std::use_facet<std::ctype<wchar_t>>(unicode);
}

}  // namespace
#endif

std::wstring LowerCase(std::wstring text) {
#ifdef _WIN32
    // CharLowerBuffW takes a DWORD count; texts here are far below that.
    if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
#else
    if (!text.empty()) UnicodeCase().tolower(&text[0], &text[0] + text.size());
#endif
    return text;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

}  // namespace vaultmere
