#pragma once
// Which copy of the program is the resident one in this session, and which
// windows of other copies count.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace vaultmere {

// The resident copy holds a named mutex of its session for its whole life.
struct ResidencyClaim {
    bool resident = false;
    UniqueHandle mutex;
};

// Decides in one step, before this copy makes any window: the copy that
// gets the mutex is the resident one. A mutex left abandoned (its holder was
// ended) is taken over; one that exists but may not be opened (held by a
// resident with other rights) means a resident runs.
ResidencyClaim ClaimResidency(const wchar_t* mutexName);

// A top-level form window with exactly this title in another process; null
// when there is none.
HWND FindFormOfOtherProcess(const wchar_t* title);
// The same, but only in a process that runs this program's own file.
HWND FindFormOfOtherCopy(const wchar_t* title);

}  // namespace vaultmere
