#include "locker/RetryBackoff.h"

#include <algorithm>

namespace vaultmere {

namespace {

// A file a program keeps open is tried at most once a second for its first
// minute, at most every 30 seconds until it has waited ten minutes, then at
// most every two minutes. A file this account may not open, or that fails
// another way, is tried slowly from the start.
constexpr std::uint32_t kFirstRetryMs = 25;
constexpr std::uint32_t kBriefRetryMs = 1000;
constexpr std::uint64_t kPatientAfterMs = 60000;
constexpr std::uint64_t kLongAfterMs = 600000;
// Writes to a waiting file bring its retry forward, but not closer than
// this to the last one: a program writing all the time costs few opens.
constexpr std::uint32_t kEarliestOnChangeMs = 250;

std::uint32_t RetryCeiling(std::uint64_t waited) {
    if (waited >= kLongAfterMs) return kLongRetryMs;
    return waited >= kPatientAfterMs ? kPatientRetryMs : kBriefRetryMs;
}

}  // namespace

WaitingFile::Failure WaitingFile::FailureOf(FileError error) {
    switch (error) {
    case FileError::InUse:
    case FileError::RangeLocked:
        return Failure::Busy;
    case FileError::Denied:
        return Failure::Denied;
    default:
        return Failure::Other;
    }
}

void WaitingFile::Failed(Failure next, std::wstring& listedName, std::uint64_t now) {
    // Let go by us since, or taken by another program: it waits afresh.
    if (failure == Failure::Linked && next != Failure::Linked) since = 0;
    if (since == 0) {
        name = std::move(listedName);
        since = now;
        delayMs = next == Failure::Busy ? kFirstRetryMs : kPatientRetryMs;
    } else {
        std::uint32_t ceiling = RetryCeiling(now - since);
        if (next != Failure::Busy) ceiling = std::max<std::uint32_t>(ceiling, kPatientRetryMs);
        delayMs = std::min<std::uint32_t>(delayMs * 2, ceiling);
    }
    if (next == Failure::Linked) delayMs = kLongRetryMs;
    failure = next;
    lastTry = now;
    due = now + delayMs;
}

void WaitingFile::Touched(std::uint64_t now) { due = std::min(due, std::max(now, lastTry + kEarliestOnChangeMs)); }

void WaitingFile::CountInto(ItemStatus& status) const {
    switch (failure) {
    case Failure::Busy:
        ++status.filesWaiting;
        break;
    case Failure::Denied:
        ++status.filesDenied;
        break;
    case Failure::Other:
        ++status.filesFailed;
        break;
    case Failure::Linked:
        ++status.filesHeld;
        break;
    }
}

}  // namespace vaultmere
