#pragma once
// Overwrites a secret before its memory is given back, through volatile
// writes the compiler may not leave out (as SecureZeroMemory does). Copies
// a string made of itself before (a reallocation, say) are not reached.
#include <cstddef>
#include <string>
#include <vector>

namespace vaultmere {

inline void WipeText(std::wstring& text) {
    if (!text.empty()) {
        volatile wchar_t* units = &text[0];
        for (std::size_t i = 0; i < text.size(); ++i) units[i] = L'\0';
    }
    text.clear();
}

inline void WipeBytes(std::vector<unsigned char>& bytes) {
    volatile unsigned char* data = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) data[i] = 0;
    bytes.clear();
}

inline void WipeBytes(std::string& bytes) {
    if (!bytes.empty()) {
        volatile char* data = &bytes[0];
        for (std::size_t i = 0; i < bytes.size(); ++i) data[i] = 0;
    }
    bytes.clear();
}

}  // namespace vaultmere
