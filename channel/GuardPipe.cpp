#include "channel/GuardPipe.h"

#include "common/SystemFunction.h"

namespace vaultmere {

namespace {

// The system's build number as the kernel has it; 0 when it cannot be read.
unsigned long SystemBuild() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = SystemFunction<RtlGetVersionFunction>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return getVersion && getVersion(&version) == 0 ? version.dwBuildNumber : 0;
}

constexpr unsigned long kFirstBuildWithPipePrefixes = 16299;

}  // namespace

std::wstring GuardPipeName() {
    static const std::wstring name = SystemBuild() >= kFirstBuildWithPipePrefixes ? kProtectedGuardPipeName
                                                                                  : kPlainGuardPipeName;
    return name;
}

}  // namespace vaultmere
