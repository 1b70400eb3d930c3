#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/RelockSchedule.h"

namespace vaultmere {
namespace {

using Items = std::vector<std::wstring>;
constexpr std::uint64_t kMinute = 60ull * 10000000;

TEST(RelockSchedule, ThePolicyWinsEachValueOnItsOwnAndTheDefaultFillsTheRest) {
    const RelockSettings none = ChooseRelockSettings({}, {});
    EXPECT_TRUE(none.onSessionLock);
    EXPECT_EQ(0u, none.minutes);
    const RelockSettings mixed = ChooseRelockSettings({std::nullopt, 5u}, {0u, 30u});
    EXPECT_FALSE(mixed.onSessionLock);
    EXPECT_EQ(5u, mixed.minutes);
    EXPECT_TRUE(ChooseRelockSettings({2u, std::nullopt}, {0u, std::nullopt}).onSessionLock);

    // Locked, or disconnected from the console or a remote client; signed out.
    for (std::uint32_t change = 0; change <= 10; ++change) {
        EXPECT_EQ(change == 2 || change == 4 || change == 7, LeavesSessionToOthers(change)) << change;
        EXPECT_EQ(change == 6, EndsSession(change)) << change;
    }
}

TEST(RelockSchedule, AnItemIsDueItsMinutesAfterItsLastUnlockEarliestFirst) {
    RelockSchedule schedule;
    const std::uint64_t start = UtcFileTimeNow();
    schedule.Unlocked(L"b", start);
    schedule.Unlocked(L"a", start + kMinute);
    EXPECT_EQ(start + 10 * kMinute, schedule.DueAt(L"b", 10));
    EXPECT_EQ(0u, schedule.DueAt(L"b", 0)) << "no time set: never";
    EXPECT_EQ(0u, schedule.DueAt(L"c", 10)) << "not unlocked here";
    EXPECT_EQ(Items{}, schedule.Due(start + 10 * kMinute - 1, 10));
    EXPECT_EQ(Items{L"b"}, schedule.Due(start + 10 * kMinute, 10));
    EXPECT_EQ((Items{L"b", L"a"}), schedule.Due(start + 11 * kMinute, 10));
    EXPECT_EQ(Items{}, schedule.Due(start + 100 * kMinute, 0));

    // Unlocking again starts its time again; relocked, it is due no more.
    schedule.Unlocked(L"b", start + 2 * kMinute);
    EXPECT_EQ((Items{L"a", L"b"}), schedule.Due(start + 12 * kMinute, 10));
    schedule.Relocked(L"a");
    EXPECT_EQ(Items{L"b"}, schedule.Due(start + 12 * kMinute, 10));
    EXPECT_EQ(0u, schedule.DueAt(L"a", 10));
}

}  // namespace
}  // namespace vaultmere
