#include "guard/VolumeNotices.h"

#include <dbt.h>

#include <algorithm>
#include <cstddef>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

// GUID_DEVINTERFACE_VOLUME, written out so that no GUID library is needed.
constexpr GUID kVolumeInterface = {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

std::wstring VolumeRootOf(const std::wstring& folder) {
    std::wstring root(folder.size() + MAX_PATH, L'\0');
    if (!::GetVolumePathNameW(ExtendedLengthPath(folder).c_str(), &root[0], static_cast<DWORD>(root.size()))) {
        return std::wstring();
    }
    root.resize(::lstrlenW(root.c_str()));
    // The \\?\ form given in comes back as it went in: a drive's is taken off.
    const std::wstring plain = WithoutExtendedPrefix(root);
    return plain.size() >= 2 && IsDriveLetter(plain[0]) && plain[1] == L':' ? plain : root;
}

// The volume's own name (\\?\Volume{...}\) when the system gives one, so
// that the handle is on the volume and not on a folder of another.
std::wstring DeviceOf(const std::wstring& root) {
    wchar_t name[MAX_PATH] = {};
    if (::GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH)) return name;
    return root;
}

UniqueHandle OpenVolume(const std::wstring& device) {
    // Attributes only and every kind of sharing: the handle is there to be
    // named in the registration, never to keep anyone out.
    return UniqueHandle(::CreateFileW(device.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

VolumeNotices::VolumeNotices(HANDLE recipient, DWORD flags) : recipient_(recipient), flags_(flags) {}

void VolumeNotices::WatchArrivals() {
    if (arrivals_ || !recipient_) return;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kVolumeInterface;
    arrivals_.Reset(::RegisterDeviceNotificationW(recipient_, &filter, flags_));
}

void VolumeNotices::Watch(const std::vector<std::wstring>& folders) {
    if (!recipient_) return;
    WatchArrivals();
    for (const std::wstring& folder : folders) {
        if (folder.empty() || folder.rfind(L"\\\\", 0) == 0) continue;
        const std::wstring root = VolumeRootOf(folder);
        if (root.empty() || root.rfind(L"\\\\", 0) == 0) continue;
        const bool known = std::any_of(volumes_.begin(), volumes_.end(),
                                       [&root](const auto& volume) { return EqualsIgnoringCase(volume->root, root); });
        if (known || ::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) continue;
        auto volume = std::make_unique<Volume>();
        volume->root = root;
        volume->device = DeviceOf(root);
        volume->handle = OpenVolume(volume->device);
        if (!volume->handle) continue;
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = volume->handle.Get();
        volume->notify.Reset(::RegisterDeviceNotificationW(recipient_, &filter, flags_));
        if (volume->notify) volumes_.push_back(std::move(volume));
    }
}

void VolumeNotices::Clear() {
    volumes_.clear();
    arrivals_.Reset();
}

std::vector<std::wstring> VolumeNotices::Roots() const {
    std::vector<std::wstring> roots;
    for (const auto& volume : volumes_) roots.push_back(volume->root);
    return roots;
}

VolumeNotices::Notice VolumeNotices::Take(DWORD eventType, const void* eventData) {
    Notice notice;
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(eventData);
    if (!header) return notice;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        if (eventType == DBT_DEVICEARRIVAL) notice.kind = Notice::Kind::Arrived;
        return notice;
    }
    if (header->dbch_devicetype != DBT_DEVTYP_HANDLE ||
        header->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid)) {
        return notice;
    }
    const HDEVNOTIFY notify = static_cast<const DEV_BROADCAST_HANDLE*>(eventData)->dbch_hdevnotify;
    const auto found = std::find_if(volumes_.begin(), volumes_.end(),
                                    [notify](const auto& volume) { return volume->notify.Get() == notify; });
    if (found == volumes_.end()) return notice;
    Volume& volume = **found;
    notice.root = volume.root;
    switch (eventType) {
    case DBT_DEVICEQUERYREMOVE:
        volume.handle.Reset();
        notice.kind = Notice::Kind::QueryRemove;
        break;
    case DBT_DEVICEQUERYREMOVEFAILED:
        // Kept registered as it was; only the handle comes back.
        volume.handle = OpenVolume(volume.device);
        notice.kind = Notice::Kind::RemoveFailed;
        break;
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE:
        volumes_.erase(found);
        notice.kind = Notice::Kind::Removed;
        break;
    default:
        break;
    }
    return notice;
}

}  // namespace vaultmere
