#include "locker/NamePattern.h"

namespace vaultmere {

namespace {

// Wildcard match with one back-track point: the last '*' seen.
bool Glob(const wchar_t* pattern, size_t patternLength, const std::wstring& name) {
    size_t p = 0;
    size_t n = 0;
    size_t starAt = std::wstring::npos;
    size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < patternLength && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < patternLength && pattern[p] == L'*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::wstring::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < patternLength && pattern[p] == L'*') ++p;
    return p == patternLength;
}

}  // namespace

bool NameMatchesPattern(const std::wstring& pattern, const std::wstring& name) {
    if (name.empty()) return false;
    const bool nameHasDot = name.find(L'.') != std::wstring::npos;
    const size_t length = pattern.size();
    if (length >= 2 && pattern.compare(length - 2, 2, L".*") == 0) {
        return Glob(pattern.c_str(), length, name) || (!nameHasDot && Glob(pattern.c_str(), length - 2, name));
    }
    if (length >= 2 && pattern.back() == L'.') return !nameHasDot && Glob(pattern.c_str(), length - 1, name);
    return Glob(pattern.c_str(), length, name);
}

bool HasWildcard(const std::wstring& pattern) { return pattern.find_first_of(L"*?") != std::wstring::npos; }

}  // namespace vaultmere
