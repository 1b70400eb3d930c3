#include "locker/DiskAdmission.h"

#include <aclapi.h>

#include "common/AppState.h"
#include "common/ErrorMode.h"
#include "common/TextCase.h"
#include "locker/FolderCoverage.h"
#include "locker/FolderHandles.h"
#include "locker/ItemPath.h"
#include "locker/NamePattern.h"
#include "locker/TreeCount.h"

namespace vaultmere {

namespace {

constexpr SECURITY_INFORMATION kAccessParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                              DACL_SECURITY_INFORMATION;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// What token is granted by a descriptor read with error.
FolderAccess AccessBy(HANDLE token, DWORD error, PSECURITY_DESCRIPTOR descriptor, DWORD access) {
    if (IsGone(error)) return FolderAccess::Missing;
    if (error != ERROR_SUCCESS) return FolderAccess::Unknown;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor, token, access, &mapping, &privileges, &privilegesSize, &granted, &allowed)) {
        return FolderAccess::Unknown;
    }
    return allowed && (granted & access) == access ? FolderAccess::Granted : FolderAccess::Denied;
}

// The same by name, for the tree's count, which gives names.
FolderAccess AccessOfPath(HANDLE token, const std::wstring& path, DWORD access) {
    if (!token) return FolderAccess::Unknown;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetNamedSecurityInfoW(ExtendedLengthPath(path).c_str(), SE_FILE_OBJECT, kAccessParts, nullptr,
                                                nullptr, nullptr, nullptr, descriptor.Put());
    return AccessBy(token, error, descriptor.Get(), access);
}

// A file gone meanwhile is no refusal.
bool Readable(FolderAccess access) { return access == FolderAccess::Granted || access == FolderAccess::Missing; }

}  // namespace

FolderAccess AccessOf(HANDLE token, HANDLE object, DWORD access) {
    if (!token || !object) return FolderAccess::Unknown;
    UniqueLocalMemory descriptor;
    const DWORD error = ::GetSecurityInfo(object, SE_FILE_OBJECT, kAccessParts, nullptr, nullptr, nullptr, nullptr,
                                          descriptor.Put());
    return AccessBy(token, error, descriptor.Get(), access);
}

AdmissionProbe::Opening DiskAdmissionProbe::Open(const std::wstring& folder) {
    path_ = folder;
    // Links are followed here as the locker's pin follows them; the final
    // path read from the handle tells whether there was one.
    folder_.Reset(::CreateFileW(ExtendedLengthPath(folder).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD error = folder_ ? ERROR_SUCCESS : ::GetLastError();
    if (!folder_ || !ReadIdentity(folder_.Get(), true, identity_, DriveOf(folder))) {
        // Judged by its name: whoever asks, a system folder is refused.
        identity_.path = LowerCase(folder);
    } else {
        identity_.volume = VolumeSerialOf(folder_.Get());
    }
    if (folder_) return Opening::Opened;
    return IsGone(error) ? Opening::Gone : Opening::Failed;
}

bool DiskAdmissionProbe::RuleAllows(bool withSubfolders) { return rule_.Allows(identity_, withSubfolders); }

bool DiskAdmissionProbe::HoldsProgramFile() {
    FolderEntry entry;
    return FindEntry(folder_.Get(), kProgramFileName, entry) && !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DiskAdmissionProbe::ReachedWithoutLinks() { return vaultmere::ReachedWithoutLinks(path_, identity_); }

bool DiskAdmissionProbe::MayReadFiles(const std::wstring& name) {
    const auto mayRead = [&](const std::wstring& file) {
        const UniqueHandle opened = OpenRelative(folder_.Get(), file, READ_CONTROL, kShareAll,
                                                 FILE_NON_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
        if (!opened) return IsGone(::GetLastError());
        return Readable(AccessOf(token_, opened.Get(), FILE_READ_DATA));
    };
    if (!HasWildcard(name)) return mayRead(name);
    const UniqueHandle listing = ReopenForListing(folder_.Get());
    if (!listing) return false;
    const std::wstring pattern = LowerCase(name);
    bool mayReadAll = true;
    const DWORD listed = ListFolder(listing.Get(), std::wstring(), [&](const FolderEntry& entry) {
        if (!WildcardCovers(entry.attributes) || !NameMatchesPattern(pattern, LowerCase(entry.name))) return true;
        return mayReadAll = mayRead(entry.name);
    });
    return mayReadAll && listed == ERROR_SUCCESS;
}

TreeAccess DiskAdmissionProbe::ScanTree(std::size_t most) {
    TreeAccess tree;
    tree.entries = CountTree(path_, most, [&](const std::wstring& entry, bool folder) {
        if (!folder) return tree.mayReadAll = Readable(AccessOfPath(token_, entry, FILE_READ_DATA));
        return tree.mayListAll = Readable(AccessOfPath(token_, entry, FILE_LIST_DIRECTORY));
    });
    return tree;
}

UniqueHandle OwnUserToken() {
    UniqueHandle process;
    UniqueHandle identification;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.Put())) {
        ::DuplicateToken(process.Get(), SecurityIdentification, identification.Put());
    }
    return identification;
}

AdmissionVerdict AdmitForOwnUser(const std::wstring& path, const AdmissionWay& way) {
    CriticalErrorsQuiet quiet;
    const LockRule rule;
    const UniqueHandle token = OwnUserToken();
    DiskAdmissionProbe probe(token.Get(), rule);
    return Admit(path, way, probe);
}

}  // namespace vaultmere
