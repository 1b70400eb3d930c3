#include <windows.h>

#include "common/LockBudget.h"
#include "common/SystemFunction.h"

namespace vaultmere {

LockPlatform RunningPlatform() {
    using WineVersion = const char* (*)();
    return SystemFunction<WineVersion>(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") ? LockPlatform::Wine
                                                                                             : LockPlatform::Windows;
}

LockBudget PlatformLockBudget() { return DefaultLockBudget(RunningPlatform()); }

}  // namespace vaultmere
