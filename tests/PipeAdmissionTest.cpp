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

}  // namespace
}  // namespace vaultmere
