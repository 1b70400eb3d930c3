// A lane's listing of a folder: one pass takes what every wildcard pattern
// would, then the plain names are opened one by one.
#include <algorithm>
#include <unordered_set>

#include "common/TextCase.h"
#include "locker/FolderCoverage.h"
#include "locker/FolderHandles.h"
#include "locker/FolderLane.h"
#include "locker/ItemPath.h"
#include "locker/NamePattern.h"

namespace vaultmere {

bool CoveredByWildcard(const FolderJob& job, const std::wstring& lower, DWORD attributes) {
    if (!WildcardCovers(attributes)) return false;
    for (const FolderPattern& pattern : job.patterns) {
        if (!pattern.wildcard) continue;
        if (!pattern.tree.empty() || NameMatchesPattern(pattern.lower, lower)) return true;
    }
    return false;
}

bool Covered(const FolderJob& job, const std::wstring& lower, DWORD attributes) {
    for (const FolderPattern& pattern : job.patterns) {
        if (!pattern.wildcard && pattern.lower == lower) return true;
    }
    return CoveredByWildcard(job, lower, attributes);
}

ItemStatus::Folder PresenceAfter(DWORD error, const std::wstring& path) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        break;
    case ERROR_ACCESS_DENIED:
        return ItemStatus::Folder::Denied;
    case ERROR_SHARING_VIOLATION:
        return ItemStatus::Folder::InUse;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NOT_ENOUGH_QUOTA:
        return ItemStatus::Folder::OutOfHandles;
    default:
        return ItemStatus::Folder::Unreachable;
    }
    return ::GetFileAttributesW(VolumeRoot(path).c_str()) == INVALID_FILE_ATTRIBUTES ? ItemStatus::Folder::Unreachable
                                                                                     : ItemStatus::Folder::Missing;
}

void FolderLane::List(FolderJob& job, HANDLE folder) {
    const bool several = job.patterns.size() > 1;
    // Names the listing opened, left to it by the plain patterns. Not
    // skipped by the listing itself: in a case-sensitive folder two files
    // may share one lower-cased name.
    std::unordered_set<std::wstring> listed;
    const bool anyWildcard = std::any_of(job.patterns.begin(), job.patterns.end(),
                                         [](const FolderPattern& pattern) { return pattern.wildcard; });
    job.presenceKnown = true;
    job.presence = ItemStatus::Folder::Present;
    if (anyWildcard || job.tree) {
        // One listing takes what every pattern with a wildcard would.
        const DWORD error = ListFolder(folder, std::wstring(), [&](const FolderEntry& entry) {
            if (stop_) return false;
            const DWORD attributes = entry.attributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // Left alone, whatever kind it is.
                if (!(attributes & FILE_ATTRIBUTE_HIDDEN) &&
                    (job.tree || CoveredByWildcard(job, LowerCase(entry.name), attributes)))
                    ++job.links;
                return true;
            }
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (job.tree && TreeEnters(attributes)) {
                    job.subfolders.push_back({entry.name, LowerCase(entry.name), entry.fileId});
                }
                return true;
            }
            std::wstring lower = LowerCase(entry.name);
            if (job.known.count(lower) || !CoveredByWildcard(job, lower, attributes)) return true;
            if (several) listed.insert(lower);
            Open(job, folder, entry.name, std::move(lower), Reason::Listed, entry.fileId);
            return MaybeHandIn(job);
        });
        if (job.abandoned) return;
        if (error != ERROR_SUCCESS) {
            job.presence = PresenceAfter(error, job.path);
            return;
        }
    }
    for (const FolderPattern& pattern : job.patterns) {
        if (stop_ || job.abandoned) return;
        if (pattern.wildcard || job.known.count(pattern.lower) || listed.count(pattern.lower)) continue;
        Open(job, folder, pattern.name, pattern.lower, Reason::Named);
        if (several) job.known.insert(pattern.lower);
    }
}

}  // namespace vaultmere
