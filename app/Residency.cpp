#include "app/Residency.h"

#include "common/AppState.h"
#include "common/ProcessImage.h"
#include "forms/FormKit.h"

namespace vaultmere {

ResidencyClaim ClaimResidency(const wchar_t* mutexName) {
    ResidencyClaim claim;
    claim.mutex.Reset(::CreateMutexW(nullptr, FALSE, mutexName));
    if (!claim.mutex) {
        // Created by a resident running elevated, say: it runs.
        if (::GetLastError() == ERROR_ACCESS_DENIED) return claim;
        // The name is held by some other kind of object. Locking the stored
        // list matters more than being the only resident copy.
        claim.resident = true;
        return claim;
    }
    const DWORD taken = ::WaitForSingleObject(claim.mutex.Get(), 0);
    claim.resident = taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
    if (!claim.resident) claim.mutex.Reset();
    return claim;
}

namespace {

template <typename Accept>
HWND FindForm(const wchar_t* title, Accept accept) {
    for (HWND window = nullptr; (window = ::FindWindowExW(nullptr, window, ui::kFormClass, title)) != nullptr;) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != ::GetCurrentProcessId() && accept(owner)) return window;
    }
    return nullptr;
}

}  // namespace

HWND FindFormOfOtherProcess(const wchar_t* title) {
    return FindForm(title, [](DWORD) { return true; });
}

HWND FindFormOfOtherCopy(const wchar_t* title) {
    const std::wstring ownFile = ProgramPath();
    return FindForm(title, [&](DWORD owner) { return SameProgramFile(ProcessImagePath(owner), ownFile); });
}

}  // namespace vaultmere
