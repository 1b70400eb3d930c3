#include "common/RelockSchedule.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace vaultmere {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicksPerMinute = 60 * kTicksPerSecond;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochSeconds = 11644473600;

}  // namespace

RelockSettings ChooseRelockSettings(const RelockValues& policy, const RelockValues& settings) {
    RelockSettings chosen;
    if (const auto onLock = policy.onSessionLock ? policy.onSessionLock : settings.onSessionLock) {
        chosen.onSessionLock = *onLock != 0;
    }
    if (const auto minutes = policy.minutes ? policy.minutes : settings.minutes) chosen.minutes = *minutes;
    return chosen;
}

bool LeavesSessionToOthers(std::uint32_t sessionChange) {
    constexpr std::uint32_t kConsoleDisconnect = 2;
    constexpr std::uint32_t kRemoteDisconnect = 4;
    constexpr std::uint32_t kSessionLock = 7;
    return sessionChange == kConsoleDisconnect || sessionChange == kRemoteDisconnect || sessionChange == kSessionLock;
}

bool EndsSession(std::uint32_t sessionChange) {
    constexpr std::uint32_t kSessionLogoff = 6;
    return sessionChange == kSessionLogoff;
}

std::uint64_t UtcFileTimeNow() {
    const auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
        sinceUnix);
    return kUnixEpochSeconds * kTicksPerSecond + static_cast<std::uint64_t>(ticks.count());
}

std::uint64_t RelockSchedule::DueAt(const std::wstring& item, std::uint32_t minutes) const {
    const auto found = unlockedAt_.find(item);
    if (minutes == 0 || found == unlockedAt_.end()) return 0;
    return found->second + minutes * kTicksPerMinute;
}

std::vector<std::wstring> RelockSchedule::Due(std::uint64_t now, std::uint32_t minutes) const {
    std::vector<std::pair<std::uint64_t, std::wstring>> due;
    if (minutes == 0) return {};
    for (const auto& [item, at] : unlockedAt_) {
        const std::uint64_t relockAt = at + minutes * kTicksPerMinute;
        if (relockAt <= now) due.emplace_back(relockAt, item);
    }
    std::sort(due.begin(), due.end());
    std::vector<std::wstring> items;
    items.reserve(due.size());
    for (auto& entry : due) items.push_back(std::move(entry.second));
    return items;
}

}  // namespace vaultmere
