#include "app/SessionNotices.h"

#include <wtsapi32.h>

#include "common/SystemFunction.h"

namespace vaultmere {

bool SessionNotices::Start(HWND window) {
    Stop();
    module_.Reset(::LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    const auto registerWindow =
        SystemFunction<decltype(&::WTSRegisterSessionNotification)>(module_.Get(), "WTSRegisterSessionNotification");
    if (!registerWindow || !registerWindow(window, NOTIFY_FOR_THIS_SESSION)) return false;
    window_ = window;
    return true;
}

void SessionNotices::Stop() {
    if (!window_) return;
    const auto unregisterWindow =
        SystemFunction<decltype(&::WTSUnRegisterSessionNotification)>(module_.Get(),
                                                                      "WTSUnRegisterSessionNotification");
    if (unregisterWindow) unregisterWindow(window_);
    window_ = nullptr;
}

}  // namespace vaultmere
