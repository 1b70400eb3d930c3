#pragma once
// A window's registration for the changes of its session
// (WM_WTSSESSION_CHANGE), held while this object lives.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace vaultmere {

class SessionNotices {
public:
    SessionNotices() = default;
    ~SessionNotices() { Stop(); }
    SessionNotices(const SessionNotices&) = delete;
    SessionNotices& operator=(const SessionNotices&) = delete;

    // Whether the system took the registration; false also where the
    // system has no such notices.
    bool Start(HWND window);
    // Must come before the window goes.
    void Stop();

private:
    // Taken from the system folder: a static import would load any
    // wtsapi32.dll lying beside the program.
    UniqueModule module_;
    HWND window_ = nullptr;
};

}  // namespace vaultmere
