#pragma once
// The chooser lists' view of the real disks.
#include "forms/add/ChooserLists.h"

namespace vaultmere {

class Win32FolderSource final : public FolderSource {
public:
    // Labels are read for fixed drives only: asking an empty removable drive
    // or an unreachable network drive can take seconds.
    std::vector<DriveEntry> Drives() override;
    // Relative and drive-relative paths ("d:") are made absolute against the
    // process's current folders; nothing is changed by it.
    bool ResolveFolder(const std::wstring& path, std::wstring& folder) override;
    // Reads through the \\?\ form, so long paths and names that are devices
    // or end in a dot or space are read as they are.
    bool ReadFolder(const std::wstring& folder, const std::wstring& pattern, FolderContents& contents) override;
    // GetDriveTypeW and QueryDosDeviceW: neither touches the disk.
    DriveFacts DriveFactsOf(wchar_t letter) override;
};

}  // namespace vaultmere
