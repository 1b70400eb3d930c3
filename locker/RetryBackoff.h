#pragma once
// When a file that would not open is tried again. Brief opens by indexers
// and scanners clear within a few retries; a file a program keeps open is
// tried less and less often, so that thousands of files held elsewhere cost
// next to nothing.
#include <cstdint>
#include <string>

#include "locker/FolderJob.h"

namespace vaultmere {

// How long a waiting file's retry is put off, at most.
constexpr std::uint32_t kLongRetryMs = 120000;
// How long a file this account may not open waits, and a folder whose
// watch could not start in a tree.
constexpr std::uint32_t kPatientRetryMs = 30000;

// One file waiting to be tried again.
struct WaitingFile {
    // Linked: a name of a file held already under another (a hard link, or
    // a folder reached by two paths); it counts as held.
    enum class Failure { Busy, Denied, Other, Linked };

    std::wstring name;  // as listed
    std::int64_t fileId = 0;
    Failure failure = Failure::Busy;
    std::uint64_t since = 0;
    std::uint64_t lastTry = 0;
    std::uint64_t due = 0;
    std::uint32_t delayMs = 0;

    // The kind of wait an open's error begins: Busy, Denied or Other.
    static Failure FailureOf(FileError error);
    // Another try failed at now (the first when it was not waiting): the
    // next is put off further. name is kept from the first.
    void Failed(Failure next, std::wstring& listedName, std::uint64_t now);
    // Written to or closed by its holder: the next try comes soon.
    void Touched(std::uint64_t now);
    // Adds it to the count its failure belongs to.
    void CountInto(ItemStatus& status) const;
};

}  // namespace vaultmere
