#pragma once
// The version record, shared by the resource script, the About text, the
// manifest and the setup packages (the build reads the text from here).
#define VAULTMERE_VERSION_MAJOR 1
#define VAULTMERE_VERSION_MINOR 4
#define VAULTMERE_VERSION_BUILD 0
#define VAULTMERE_VERSION_REVISION 2
#define VAULTMERE_VERSION_TEXT "1.4.0.2"
#define VAULTMERE_COPYRIGHT "Copyright (C) 2026 Brackwater Software. All rights reserved."
#define VAULTMERE_COMMENTS "For updates visit the Brackwater website at www.brackwater.example."

#ifndef RC_INVOKED
namespace vaultmere::version_check {
// Whether text is "major.minor.build.revision" of these numbers.
constexpr bool Spells(const char* text, const int (&fields)[4]) {
    for (int field = 0; field < 4; ++field) {
        int value = 0;
        bool digits = false;
        for (; *text >= '0' && *text <= '9'; ++text, digits = true) value = value * 10 + (*text - '0');
        if (!digits || value != fields[field] || *text != (field < 3 ? '.' : '\0')) return false;
        if (field < 3) ++text;
    }
    return true;
}
constexpr int kFields[4] = {VAULTMERE_VERSION_MAJOR, VAULTMERE_VERSION_MINOR, VAULTMERE_VERSION_BUILD,
                            VAULTMERE_VERSION_REVISION};
static_assert(Spells(VAULTMERE_VERSION_TEXT, kFields), "the version text and its numbers differ");
}  // namespace vaultmere::version_check
#endif
