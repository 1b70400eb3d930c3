#include "common/TextCase.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cwctype>
#endif

namespace vaultmere {

std::wstring LowerCase(std::wstring text) {
#ifdef _WIN32
    // CharLowerBuffW takes a DWORD count; texts here are far below that.
    if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
#else
    for (auto& ch : text) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
#endif
    return text;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && LowerCase(a) == LowerCase(b);
}

}  // namespace vaultmere
