#include <gtest/gtest.h>

#include <vector>

#include "common/RelockSchedule.h"

namespace vaultmere {
namespace {

using Items = std::vector<std::wstring>;
constexpr std::uint64_t kMinute = 60ull * 10000000;

TEST(RelockSchedule, SettingsSessionChangesAndTimesDue) {
    // The policy wins each value on its own; the default fills the rest.
    EXPECT_TRUE(ChooseRelockSettings({}, {}).onSessionLock && ChooseRelockSettings({}, {}).minutes == 0);
    EXPECT_EQ(5u, ChooseRelockSettings({std::nullopt, 5u}, {0u, 30u}).minutes);
    EXPECT_FALSE(ChooseRelockSettings({std::nullopt, 5u}, {0u, 30u}).onSessionLock);
    // Locked, or disconnected from the console or a remote client; signed out.
    for (std::uint32_t change = 0; change <= 10; ++change) {
        EXPECT_EQ(change == 2 || change == 4 || change == 7, LeavesSessionToOthers(change)) << change;
        EXPECT_EQ(change == 6, EndsSession(change)) << change;
    }
    // Due its minutes after its last unlock, earliest first; never without a time.
    RelockSchedule schedule;
    const std::uint64_t start = UtcFileTimeNow();
    schedule.Unlocked(L"b", start);
    schedule.Unlocked(L"a", start + kMinute);
    EXPECT_EQ(start + 10 * kMinute, schedule.DueAt(L"b", 10));
    EXPECT_EQ(0u, schedule.DueAt(L"b", 0) + schedule.DueAt(L"c", 10));
    EXPECT_EQ(Items{}, schedule.Due(start + 10 * kMinute - 1, 10));
    EXPECT_EQ((Items{L"b", L"a"}), schedule.Due(start + 11 * kMinute, 10));
    EXPECT_EQ(Items{}, schedule.Due(start + 100 * kMinute, 0));
    schedule.Unlocked(L"b", start + 2 * kMinute);
    schedule.Relocked(L"a");
    EXPECT_EQ(Items{L"b"}, schedule.Due(start + 12 * kMinute, 10));
}

}  // namespace
}  // namespace vaultmere
