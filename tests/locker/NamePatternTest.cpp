#include <gtest/gtest.h>

#include "locker/NamePattern.h"

namespace vaultmere {
namespace {

TEST(NamePattern, StarDotStarTakesEveryName) {
    for (const wchar_t* name : {L"a.txt", L"noextension", L".profile", L"a.b.c", L"x"}) {
        EXPECT_TRUE(NameMatchesPattern(L"*.*", name)) << name;
        EXPECT_TRUE(NameMatchesPattern(L"*", name)) << name;
    }
    EXPECT_FALSE(NameMatchesPattern(L"*.*", L""));
}

TEST(NamePattern, ExtensionsQuestionMarksAndPlainNames) {
    EXPECT_TRUE(NameMatchesPattern(L"*.txt", L"report.txt"));
    EXPECT_TRUE(NameMatchesPattern(L"*.txt", L"a.b.txt"));
    EXPECT_FALSE(NameMatchesPattern(L"*.txt", L"report.txt2"));
    EXPECT_FALSE(NameMatchesPattern(L"*.txt", L"txt"));
    EXPECT_TRUE(NameMatchesPattern(L"r?port.*", L"report.doc"));
    EXPECT_TRUE(NameMatchesPattern(L"r?port.*", L"report"));
    EXPECT_FALSE(NameMatchesPattern(L"r?port.*", L"rport.doc"));
    EXPECT_TRUE(NameMatchesPattern(L"*a*b*", L"xxaxxbxx"));
    EXPECT_FALSE(NameMatchesPattern(L"*a*b*", L"xxbxxaxx"));
    // A trailing dot stands for "no extension".
    EXPECT_TRUE(NameMatchesPattern(L"*.", L"makefile"));
    EXPECT_FALSE(NameMatchesPattern(L"*.", L"make.file"));
    EXPECT_TRUE(NameMatchesPattern(L"notes.txt", L"notes.txt"));
    EXPECT_FALSE(NameMatchesPattern(L"notes.txt", L"notes.txt.bak"));
    EXPECT_TRUE(HasWildcard(L"*.*"));
    EXPECT_TRUE(HasWildcard(L"a?.txt"));
    EXPECT_FALSE(HasWildcard(L"notes.txt"));
}

}  // namespace
}  // namespace vaultmere
