#pragma once
// Overwrites a secret before its memory is given back, through volatile
// writes the compiler may not leave out (as SecureZeroMemory does). Copies
// a string made of itself before (a reallocation, say) are not reached.
#include <cstddef>
#include <string>

namespace vaultmere {

inline void WipeText(std::wstring& text) {
    if (!text.empty()) {
        volatile wchar_t* units = &text[0];
        for (std::size_t i = 0; i < text.size(); ++i) units[i] = L'\0';
    }
    text.clear();
}

}  // namespace vaultmere
