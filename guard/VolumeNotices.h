#pragma once
// Windows' notices of volumes being removed, for the volumes that hold
// locked items: one handle notification per volume (only those are told
// of a removal before it happens), and one for volumes arriving, so that a
// drive plugged in again is watched again. Which items a notice concerns
// is decided by ItemsOnVolume; this only registers and decodes.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

namespace vaultmere {

class VolumeNotices {
public:
    // recipient is a service status handle (flags DEVICE_NOTIFY_SERVICE_HANDLE)
    // or a window (DEVICE_NOTIFY_WINDOW_HANDLE).
    VolumeNotices(HANDLE recipient, DWORD flags);
    VolumeNotices(const VolumeNotices&) = delete;
    VolumeNotices& operator=(const VolumeNotices&) = delete;

    // Registers the volume of each folder that is not registered yet.
    // Shares, network drives and folders that are not there are skipped.
    void Watch(const std::vector<std::wstring>& folders);
    // Every notification ends.
    void Clear();

    // The mount points of the volumes registered, as GetVolumePathNameW
    // gives them (e:\, c:\mnt\usb\).
    std::vector<std::wstring> Roots() const;

    struct Notice {
        enum class Kind {
            None,          // not one of ours, or nothing to do
            QueryRemove,   // about to go: let its files go
            RemoveFailed,  // it stays after all
            Removed,       // gone (or going, without asking)
            Arrived,       // some volume arrived
        };
        Kind kind = Kind::None;
        std::wstring root;
    };
    // Decodes a device event (HandlerEx's event type and data, or
    // WM_DEVICECHANGE's). On QueryRemove it closes its own handle on the
    // volume, so that the handle does not stand in the way; on RemoveFailed
    // it opens it again; on Removed the volume's notification ends.
    Notice Take(DWORD eventType, const void* eventData);

private:
    struct Volume {
        std::wstring root;
        std::wstring device;  // what the handle is opened on
        UniqueHandle handle;
        UniqueDeviceNotify notify;
    };
    void WatchArrivals();

    HANDLE recipient_;
    DWORD flags_;
    std::vector<std::unique_ptr<Volume>> volumes_;
    UniqueDeviceNotify arrivals_;
};

}  // namespace vaultmere
