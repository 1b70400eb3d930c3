#include "channel/PipeAdmission.h"

#include <gtest/gtest.h>

namespace vaultmere {
namespace {

TEST(PipeAdmissionTest, ClientsOfUnknownUsersAreCountedByTheirSessionWithinTheSameCaps) {
    PipeAdmission admission;
    PipeAdmission::Key key = 1;
    for (std::uint32_t process = 10; process < 10 + admission.Limits().waitingPerUser; ++process)
        EXPECT_TRUE(admission.Admit(key++, process, L"", 1, 0)) << process;
    EXPECT_FALSE(admission.Admit(key++, 99, L"", 1, 0));
    // Other sessions, one not known and a known user of the same session get their own share.
    for (const std::uint32_t session : {2u, 2u, kUnknownSession})
        EXPECT_TRUE(admission.Admit(key++, 20, L"", session, 0)) << session;
    EXPECT_TRUE(admission.Admit(key++, 22, L"S-1-5-21-1-2-3-1001", 1, 0));
    EXPECT_FALSE(admission.Admit(key++, 20, L"", 2, 0)) << "a third from one process";
}

TEST(PipeAdmissionTest, AConnectionWithoutThePasswordMustSpeakAgainAfterEachAnswer) {
    PipeAdmission admission;
    const std::uint64_t quiet = admission.Limits().nextMessageMs;
    ASSERT_TRUE(admission.Admit(7, 1, L"S-1-5-18", 0, 1000));
    // Refused and held back: the time counts from when the answer goes.
    admission.Answered(7, false, 6000);
    EXPECT_TRUE(admission.Overdue(6000 + quiet - 1).empty());
    EXPECT_EQ(std::vector<PipeAdmission::Key>{7}, admission.Overdue(6000 + quiet));
    // With the password no deadline; once it is given up, one again.
    admission.Answered(7, true, 7000);
    EXPECT_TRUE(admission.Overdue(UINT64_MAX).empty());
    admission.Answered(7, false, 8000);
    EXPECT_EQ(8000 + quiet, admission.NextDeadline());
}

TEST(PipeAdmissionTest, EachCapCountsOnlyWhatItNamesAndAClosedConnectionGivesItsPlaceBack) {
    PipeLimits limits;
    limits.total = 7;
    limits.perUser = 5;
    limits.waitingPerUser = 3;
    limits.waitingPerProcess = 2;
    PipeAdmission admission(limits);
    const std::wstring alice = L"S-1-5-21-1-2-3-1001";
    const std::wstring bob = L"S-1-5-21-1-2-3-1002";
    EXPECT_TRUE(admission.Admit(1, 10, alice, 1, 0));
    EXPECT_TRUE(admission.Admit(2, 10, alice, 1, 0));
    EXPECT_FALSE(admission.Admit(3, 10, alice, 1, 0)) << "a process's share without the password";
    // Given the password, a connection leaves the waiting shares.
    admission.Answered(1, true, 0);
    EXPECT_TRUE(admission.Admit(3, 10, alice, 1, 0));
    EXPECT_TRUE(admission.Admit(4, 11, alice, 1, 0));
    EXPECT_FALSE(admission.Admit(5, 12, alice, 1, 0)) << "a user's share without the password";
    admission.Answered(2, true, 0);
    EXPECT_TRUE(admission.Admit(5, 12, alice, 1, 0));
    admission.Answered(3, true, 0);
    EXPECT_FALSE(admission.Admit(6, 13, alice, 1, 0)) << "a user's share in all";
    // Another user has a share of its own, within the total.
    EXPECT_TRUE(admission.Admit(6, 20, bob, 1, 0));
    EXPECT_TRUE(admission.Admit(7, 20, bob, 1, 0));
    EXPECT_FALSE(admission.Admit(8, 21, bob, 1, 0)) << "every place taken";
    admission.Closed(3);
    EXPECT_TRUE(admission.Admit(8, 21, bob, 1, 0));
    // Closing or answering one never admitted changes nothing.
    admission.Closed(99);
    admission.Answered(99, true, 0);
    EXPECT_FALSE(admission.Admit(9, 22, bob, 1, 0));
}

TEST(PipeAdmissionTest, TheFirstMessageIsDueSoonAfterConnectingAndNoneWhileAnAnswerIsWorkedOut) {
    PipeAdmission admission;
    const std::uint64_t first = admission.Limits().firstMessageMs;
    EXPECT_EQ(0u, admission.NextDeadline());
    ASSERT_TRUE(admission.Admit(1, 10, L"S-1-5-18", 0, 1000));
    ASSERT_TRUE(admission.Admit(2, 11, L"S-1-5-18", 0, 1500));
    EXPECT_EQ(1000 + first, admission.NextDeadline());
    EXPECT_TRUE(admission.Overdue(1000 + first - 1).empty());
    EXPECT_EQ((std::vector<PipeAdmission::Key>{1, 2}), admission.Overdue(1500 + first));
    // A message came and its answer is being worked out: it owes nothing.
    admission.Working(1);
    EXPECT_EQ(1500 + first, admission.NextDeadline());
    EXPECT_EQ(std::vector<PipeAdmission::Key>{2}, admission.Overdue(UINT64_MAX));
    admission.Closed(2);
    EXPECT_EQ(0u, admission.NextDeadline());
    EXPECT_TRUE(admission.Overdue(UINT64_MAX).empty());
}

}  // namespace
}  // namespace vaultmere
