#pragma once
#include <windows.h>

namespace vaultmere {

// No "insert a disk" box for an empty drive while this lives: the call just fails.
class CriticalErrorsQuiet {
public:
    CriticalErrorsQuiet() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_); }
    ~CriticalErrorsQuiet() { ::SetThreadErrorMode(previous_, nullptr); }
    CriticalErrorsQuiet(const CriticalErrorsQuiet&) = delete;
    CriticalErrorsQuiet& operator=(const CriticalErrorsQuiet&) = delete;

private:
    DWORD previous_ = 0;
};

}  // namespace vaultmere
