#include <gtest/gtest.h>

#include "forms/config/AboutText.h"

namespace vaultmere {
namespace {

TEST(AboutText, NameVersionCopyrightAndCommentsOnLinesOfTheirOwn) {
    VersionRecord record;
    record.major = 2;
    record.minor = 10;
    record.build = 7;
    record.revision = 0;
    record.copyright = L"(c)";
    record.comments = L"see";
    // The build number is not shown; the revision is.
    EXPECT_EQ(L"Vaultmere\rVersion 2.10.0\r\r(c)\r\rsee", BuildAboutText(record));

    record.revision = 4294967295u;
    record.copyright.clear();
    record.comments = L"\u00e9t\u00e9";
    EXPECT_EQ(L"Vaultmere\rVersion 2.10.4294967295\r\r\r\r\u00e9t\u00e9", BuildAboutText(record));
}

}  // namespace
}  // namespace vaultmere
