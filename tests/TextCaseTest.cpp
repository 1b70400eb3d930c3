#include <gtest/gtest.h>

#include "common/TextCase.h"

namespace vaultmere {
namespace {

TEST(TextCase, LettersBeyondAsciiAreLowerCasedWhateverTheProcessLocale) {
    EXPECT_EQ(L"c:\\data\\report.txt", LowerCase(L"C:\\Data\\REPORT.TXT"));
    EXPECT_EQ(L"\u00e4rger \u0161kola \u03c3\u03bf\u03c6\u03af\u03b1 \u0436\u0443\u043a",
              LowerCase(L"\u00c4RGER \u0160kola \u03a3\u039f\u03a6\u038a\u0391 \u0416\u0423\u041a"));
    // Digits, signs and characters without case stay as they are.
    EXPECT_EQ(L"0-9 _~ \u4e2d\u6587", LowerCase(L"0-9 _~ \u4e2d\u6587"));
    EXPECT_EQ(L"", LowerCase(L""));
    EXPECT_EQ(std::wstring(L"a\0b", 3), LowerCase(std::wstring(L"A\0B", 3)));
}

TEST(TextCase, EqualityIgnoresCaseOnly) {
    EXPECT_TRUE(EqualsIgnoringCase(L"D:\\\u00c4rger\\*.*", L"d:\\\u00e4RGER\\*.*"));
    EXPECT_FALSE(EqualsIgnoringCase(L"d:\\a", L"d:\\a "));
    EXPECT_FALSE(EqualsIgnoringCase(L"d:\\\u00e4", L"d:\\a"));
}

}  // namespace
}  // namespace vaultmere
