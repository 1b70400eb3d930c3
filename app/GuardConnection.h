#pragma once
// This copy's one connection to the guard service through its pipe: made
// when first needed and again after the guard restarted, and only ever to
// the process the service manager names as the guard.
#include <windows.h>

#include <functional>
#include <string>

#include "app/GuardBook.h"
#include "channel/GuardPipe.h"

namespace vaultmere {

constexpr wchar_t kGuardStarting[] = L"Waiting for Vaultmere Guard to start...";
constexpr wchar_t kGuardNotRunning[] = L"Vaultmere Guard is not running. Ask an administrator to start it.";
constexpr wchar_t kGuardUnverified[] = L"Vaultmere Guard could not be verified. Nothing was sent to it.";
// An answer that takes longer than a window waits may still change the lists.
constexpr wchar_t kGuardStillWorking[] =
    L"Vaultmere Guard is still working on the request. The lists show what it did once it is done.";

class GuardConnection final : public GuardLink {
public:
    struct Setup {
        std::wstring pipeName = GuardPipeName();
        // The process id of the running guard, 0 when it does not run.
        std::function<DWORD()> guardProcess = [] { return RunningServiceProcessId(kGuardServiceName); };
        // How long the guard may take to start before it counts as not running.
        ULONGLONG startWaitMs = 60000;
    };

    GuardConnection();
    explicit GuardConnection(Setup setup);

    std::optional<GuardMessage> Exchange(const GuardMessage& request) override;
    std::wstring Problem() const override { return problem_; }
    void Tick() override;

private:
    bool Connect(DWORD waitMs);

    Setup setup_;
    GuardPipeClient client_;
    std::wstring problem_;
    ULONGLONG waitingSince_;
};

}  // namespace vaultmere
