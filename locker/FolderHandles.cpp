#include "locker/FolderHandles.h"

#include <winternl.h>

#include <vector>

#include "common/SystemFunction.h"
#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

// Not in every SDK's winternl.h under these names.
constexpr int kFileIdFullDirectoryInformation = 38;
constexpr int kFileInternalInformation = 6;
constexpr int kFileNameInformation = 9;
constexpr int kFileBasicInformation = 4;
constexpr int kFileStandardInformation = 5;
constexpr int kFileHardLinkInformation = 46;
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005L);

// FILE_LINK_ENTRY_INFORMATION and FILE_LINKS_INFORMATION.
struct LinkEntry {
    ULONG NextEntryOffset;
    LONGLONG ParentFileId;
    ULONG FileNameLength;
    WCHAR FileName[1];
};
struct LinksInformation {
    ULONG BytesNeeded;
    ULONG EntriesReturned;
    LinkEntry Entry;
};

// FILE_ID_FULL_DIR_INFORMATION, which not every SDK declares: the
// listing's entries with their file ids and no short names (working those
// out costs a file system that keeps none, Wine, most of a listing).
struct FullDirectoryEntry {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    ULONG EaSize;
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
};

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileFunction = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int,
                                                      BOOLEAN, PUNICODE_STRING, BOOLEAN);
using NtQueryInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
using RtlNtStatusToDosErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// ntdll is in every process and never unloaded; the functions are looked
// up once and the table never changes after.
struct NtFunctions {
    NtFunctions() {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        createFile = SystemFunction<NtCreateFileFunction>(ntdll, "NtCreateFile");
        queryDirectory = SystemFunction<NtQueryDirectoryFileFunction>(ntdll, "NtQueryDirectoryFile");
        queryInformation = SystemFunction<NtQueryInformationFileFunction>(ntdll, "NtQueryInformationFile");
        toDosError = SystemFunction<RtlNtStatusToDosErrorFunction>(ntdll, "RtlNtStatusToDosError");
    }
    NtCreateFileFunction createFile = nullptr;
    NtQueryDirectoryFileFunction queryDirectory = nullptr;
    NtQueryInformationFileFunction queryInformation = nullptr;
    RtlNtStatusToDosErrorFunction toDosError = nullptr;
};

const NtFunctions& Nt() {
    static const NtFunctions functions;
    return functions;
}

void SetErrorFrom(NTSTATUS status) { ::SetLastError(Nt().toDosError ? Nt().toDosError(status) : ERROR_GEN_FAILURE); }

bool CountedString(const std::wstring& text, UNICODE_STRING& counted) {
    if (text.size() > 32767) return false;
    counted.Buffer = const_cast<PWSTR>(text.c_str());
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    return true;
}

bool IsDots(const wchar_t* name, std::size_t length) {
    return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

// The path within its volume, on the drive it was opened on, for a file
// system that gives no final path (Wine's stops at MAX_PATH). "" when the
// handle's volume is not that drive's.
std::wstring FallbackPath(HANDLE folder, const std::wstring& drive) {
    if (drive.size() != 2 || drive[1] != L':' || !Nt().queryInformation) return std::wstring();
    DWORD serial = 0;
    BY_HANDLE_FILE_INFORMATION information;
    const wchar_t root[] = {drive[0], L':', L'\\', L'\0'};
    if (!::GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
        !::GetFileInformationByHandle(folder, &information) || information.dwVolumeSerialNumber != serial) {
        return std::wstring();
    }
    // A name of up to 32,767 characters and its length.
    constexpr ULONG kNameBytes = 65544;
    std::vector<LONGLONG> buffer(kNameBytes / sizeof(LONGLONG));
    IO_STATUS_BLOCK io{};
    if (Nt().queryInformation(folder, &io, buffer.data(), kNameBytes, kFileNameInformation) < 0) {
        return std::wstring();
    }
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    return L"\\\\?\\" + drive + std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

}  // namespace

bool LinkParents(HANDLE file, std::vector<std::int64_t>& parents) {
    parents.clear();
    if (!Nt().queryInformation) return false;
    // Room for a few names first; then for as many as the system says.
    std::vector<LONGLONG> buffer(1024 / sizeof(LONGLONG));
    for (int attempt = 0; attempt < 2; ++attempt) {
        IO_STATUS_BLOCK io{};
        const auto bytes = static_cast<ULONG>(buffer.size()) * static_cast<ULONG>(sizeof(LONGLONG));
        const NTSTATUS status = Nt().queryInformation(file, &io, buffer.data(), bytes, kFileHardLinkInformation);
        const auto* links = reinterpret_cast<const LinksInformation*>(buffer.data());
        if (status == kBufferOverflow && attempt == 0 && links->BytesNeeded > bytes &&
            links->BytesNeeded <= 16 * 1024 * 1024) {
            buffer.resize(links->BytesNeeded / sizeof(LONGLONG) + 1);
            continue;
        }
        if (status < 0 || status == kBufferOverflow) return false;
        const auto* base = reinterpret_cast<const unsigned char*>(&links->Entry);
        const unsigned char* end = reinterpret_cast<const unsigned char*>(buffer.data()) + bytes;
        std::size_t offset = 0;
        for (ULONG i = 0; i < links->EntriesReturned; ++i) {
            if (base + offset + sizeof(LinkEntry) > end) return false;
            const auto* entry = reinterpret_cast<const LinkEntry*>(base + offset);
            parents.push_back(entry->ParentFileId);
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
        return !parents.empty();
    }
    return false;
}

UniqueHandle OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG options) {
    UNICODE_STRING counted{};
    if (!Nt().createFile || !CountedString(name, counted)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return UniqueHandle();
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const NTSTATUS status = Nt().createFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                            FILE_ATTRIBUTE_NORMAL, share, FILE_OPEN, options | FILE_OPEN_REPARSE_POINT,
                                            nullptr, 0);
    if (status < 0) {
        SetErrorFrom(status);
        return UniqueHandle();
    }
    return UniqueHandle(opened);
}

UniqueHandle ReopenForListing(HANDLE folder) {
    return OpenRelative(folder, std::wstring(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
}

DWORD ListFolder(HANDLE folder, const std::wstring& mask, const std::function<bool(const FolderEntry&)>& each) {
    if (!Nt().queryDirectory) return ERROR_INVALID_FUNCTION;
    UNICODE_STRING counted{};
    if (!CountedString(mask, counted)) return ERROR_INVALID_NAME;
    // Room for a few hundred entries a call.
    constexpr ULONG kListBytes = 64 * 1024;
    std::vector<LONGLONG> buffer(kListBytes / sizeof(LONGLONG));
    FolderEntry entry;
    for (bool first = true;; first = false) {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = Nt().queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.data(), kListBytes,
                                                    kFileIdFullDirectoryInformation, FALSE,
                                                    first && !mask.empty() ? &counted : nullptr, first);
        if (status < 0) {
            const DWORD error = Nt().toDosError ? Nt().toDosError(status) : ERROR_GEN_FAILURE;
            return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
        }
        const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
        for (std::size_t offset = 0;;) {
            const auto* info = reinterpret_cast<const FullDirectoryEntry*>(base + offset);
            const std::size_t length = info->FileNameLength / sizeof(wchar_t);
            if (!IsDots(info->FileName, length)) {
                entry.name.assign(info->FileName, length);
                entry.attributes = info->FileAttributes;
                entry.fileId = info->FileId.QuadPart;
                if (!each(entry)) return ERROR_SUCCESS;
            }
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
    }
}

bool FindEntry(HANDLE folder, const std::wstring& name, FolderEntry& entry) {
    // The mask counts on a fresh handle only.
    const UniqueHandle listing = ReopenForListing(folder);
    if (!listing || name.empty()) return false;
    // A name without wildcards matches one entry: by its name, or by its
    // short (8.3) name, the one a change event may carry.
    const bool plain = name.find_first_of(L"*?<>\"") == std::wstring::npos;
    bool found = false;
    ListFolder(listing.Get(), name, [&](const FolderEntry& each) {
        if (!plain && !EqualsIgnoringCase(each.name, name)) return true;
        entry = each;
        found = true;
        return false;
    });
    return found;
}

std::int64_t FileIdOf(HANDLE file) {
    if (!Nt().queryInformation) return 0;
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER id{};
    return Nt().queryInformation(file, &io, &id, sizeof id, kFileInternalInformation) < 0 ? 0 : id.QuadPart;
}

DWORD LinkCountOf(HANDLE file) {
    FILE_STANDARD_INFO standard{};
    IO_STATUS_BLOCK io{};
    if (!Nt().queryInformation ||
        Nt().queryInformation(file, &io, &standard, sizeof standard, kFileStandardInformation) < 0) {
        return 0;
    }
    return standard.NumberOfLinks;
}

std::uint32_t VolumeSerialOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    return ::GetFileInformationByHandle(handle, &information) ? information.dwVolumeSerialNumber : 0;
}

bool ReadIdentity(HANDLE folder, bool withPath, FolderIdentity& identity, const std::wstring& drive) {
    identity = FolderIdentity();
    FILE_BASIC_INFO basic{};
    IO_STATUS_BLOCK io{};
    if (!Nt().queryInformation || Nt().queryInformation(folder, &io, &basic, sizeof basic, kFileBasicInformation) < 0) {
        return false;
    }
    identity.attributes = basic.FileAttributes;
    identity.fileId = FileIdOf(folder);
    if (!withPath) return true;
    std::wstring path = FinalPathOf(folder);
    if (path.empty()) path = FallbackPath(folder, drive);
    // Back from \\?\c:\... and \\?\UNC\server\share\... to the parsed form.
    if (path.compare(0, 4, L"\\\\?\\") != 0) return true;
    const ItemTarget target = ParseItemPath(JoinPath(WithoutExtendedPrefix(path), L"*.*"));
    if (target.kind != ItemTarget::Kind::Refused) identity.path = LowerCase(target.folder);
    return true;
}

bool ReachedWithoutLinks(const std::wstring& path, const FolderIdentity& opened) {
    if (opened.path.empty()) return false;
    if (LowerCase(path) == opened.path) return true;
    // The path as it leads from where its drive or share really is.
    const auto fromRoot = [](const std::wstring& each) {
        const std::wstring extended = ExtendedLengthPath(each);
        const std::wstring root = VolumeRoot(extended);
        const UniqueHandle handle(::CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        FolderIdentity top;
        if (!handle || !ReadIdentity(handle.Get(), true, top, DriveOf(root)) || top.path.empty()) return std::wstring();
        return LowerCase(root.size() < extended.size() ? JoinPath(top.path, extended.substr(root.size())) : top.path);
    };
    if (fromRoot(path) == opened.path) return true;
    // A short (8.3) name on the way is the same folder under its long name.
    if (path.find(L'~') == std::wstring::npos) return false;
    const std::wstring extended = ExtendedLengthPath(path);
    std::wstring longer(::GetLongPathNameW(extended.c_str(), nullptr, 0), L'\0');
    if (longer.empty()) return false;
    const DWORD length = ::GetLongPathNameW(extended.c_str(), &longer[0], static_cast<DWORD>(longer.size()));
    if (length == 0 || length >= longer.size()) return false;
    longer.resize(length);
    return fromRoot(NormalizeFolderPath(longer)) == opened.path;
}

std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        const bool fits = length < path.size();
        path.resize(length);
        if (fits) return path;
    }
}

std::wstring DriveOf(const std::wstring& path) {
    const std::wstring plain = WithoutExtendedPrefix(path);
    if (plain.size() < 2 || plain[1] != L':') return std::wstring();
    return plain.substr(0, 2);
}

}  // namespace vaultmere
