#pragma once
#include <string>

namespace vaultmere {

struct VersionRecord {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    unsigned revision = 0;
    std::wstring copyright;
    std::wstring comments;
};

// The About text: product name, version (major.minor.revision), copyright
// and comments, lines separated by single carriage returns.
std::wstring BuildAboutText(const VersionRecord& version);

// The version record of the running program (Windows only).
VersionRecord ReadVersionRecord();

}  // namespace vaultmere
