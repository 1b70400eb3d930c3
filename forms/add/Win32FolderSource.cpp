#include "forms/add/Win32FolderSource.h"

#include <windows.h>

#include "common/ErrorMode.h"
#include "common/TextCase.h"
#include "common/UniqueHandle.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

DriveKind KindOf(UINT driveType) {
    switch (driveType) {
    case DRIVE_REMOVABLE:
        return DriveKind::Removable;
    case DRIVE_FIXED:
        return DriveKind::Fixed;
    case DRIVE_REMOTE:
        return DriveKind::Remote;
    case DRIVE_CDROM:
        return DriveKind::CdRom;
    case DRIVE_RAMDISK:
        return DriveKind::RamDisk;
    default:
        return DriveKind::Unknown;
    }
}

bool IsFolder(const std::wstring& folder) {
    const DWORD attributes = ::GetFileAttributesW(ExtendedLengthPath(folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::vector<DriveEntry> Win32FolderSource::Drives() {
    CriticalErrorsQuiet quiet;
    std::vector<DriveEntry> drives;
    const DWORD present = ::GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if (!(present & (1u << bit))) continue;
        DriveEntry drive;
        drive.letter = static_cast<wchar_t>(L'a' + bit);
        const wchar_t root[] = {drive.letter, L':', L'\\', L'\0'};
        drive.kind = KindOf(::GetDriveTypeW(root));
        if (drive.kind == DriveKind::Fixed) {
            wchar_t label[MAX_PATH + 1] = {};
            if (::GetVolumeInformationW(root, label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0)) {
                drive.label = label;
            }
        }
        drives.push_back(std::move(drive));
    }
    return drives;
}

bool Win32FolderSource::ResolveFolder(const std::wstring& path, std::wstring& folder) {
    if (path.empty()) return false;
    folder = NormalizeFolderPath(path);
    if (!folder.empty()) return true;

    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (length == 0) return false;
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    folder = NormalizeFolderPath(full);
    return !folder.empty();
}

bool Win32FolderSource::ReadFolder(const std::wstring& folder, const std::wstring& pattern, FolderContents& contents) {
    CriticalErrorsQuiet quiet;
    contents = FolderContents();
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW(ExtendedLengthPath(JoinPath(folder, pattern)).c_str(), FindExInfoBasic,
                                               &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) {
        // A drive root with nothing matching reports no file; that is an
        // empty folder, not an unreadable one.
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) && IsFolder(folder);
    }
    do {
        const std::wstring name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") contents.folders.push_back(name);
        } else {
            contents.files.push_back(name);
        }
    } while (::FindNextFileW(search.Get(), &found));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

DriveFacts Win32FolderSource::DriveFactsOf(wchar_t letter) {
    DriveFacts facts;
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    facts.kind = KindOf(::GetDriveTypeW(root));
    const wchar_t drive[] = {letter, L':', L'\0'};
    // The first of the names it gives (a letter may name several, in turn).
    std::wstring targets(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::QueryDosDeviceW(drive, &targets[0], static_cast<DWORD>(targets.size()));
        if (length != 0) {
            facts.device = targets.substr(0, targets.find(L'\0'));
            break;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || targets.size() >= 65536) break;
        targets.resize(targets.size() * 4);
    }
    return facts;
}

}  // namespace vaultmere
