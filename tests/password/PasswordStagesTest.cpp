#include <gtest/gtest.h>

#include "forms/password/PasswordStages.h"

using vaultmere::PasswordStages;
using Step = PasswordStages::Step;

namespace {

TEST(PasswordStagesTest, OkIsEnabledOnlyWhileTheBoxHoldsText) {
    EXPECT_FALSE(PasswordStages::OkEnabled(L""));
    EXPECT_TRUE(PasswordStages::OkEnabled(L"a"));
    EXPECT_TRUE(PasswordStages::OkEnabled(L" "));

    // Enter on an empty box (OK disabled) leaves the stage as it was.
    PasswordStages stages;
    EXPECT_EQ(Step::Ignored, stages.Ok(L"").step);
    EXPECT_FALSE(stages.Confirming());
    ASSERT_EQ(Step::Confirm, stages.Ok(L"abc").step);
    EXPECT_EQ(Step::Ignored, stages.Ok(L"").step);
    EXPECT_TRUE(stages.Confirming());
    EXPECT_EQ(L"abc", stages.FirstEntry());
}

TEST(PasswordStagesTest, EntriesDifferingOnlyInCaseAreAcceptedLowerCased) {
    PasswordStages stages;
    const auto first = stages.Ok(L"SeCrEt");
    EXPECT_EQ(Step::Confirm, first.step);
    EXPECT_EQ(L"Please confirm your password.", first.prompt);
    EXPECT_EQ(L"secret", stages.FirstEntry());

    const auto second = stages.Ok(L"sEcReT");
    EXPECT_EQ(Step::Accept, second.step);
    EXPECT_EQ(L"secret", second.password);
    EXPECT_FALSE(stages.Confirming());
    EXPECT_EQ(L"", stages.FirstEntry());
}

TEST(PasswordStagesTest, AMismatchStartsAgainWithANewFirstEntry) {
    PasswordStages stages;
    stages.Ok(L"first");
    const auto mismatch = stages.Ok(L"firsT1");
    EXPECT_EQ(Step::Mismatch, mismatch.step);
    EXPECT_EQ(L"The password doesn't match, please enter it again.", mismatch.prompt);
    EXPECT_TRUE(mismatch.password.empty());
    EXPECT_FALSE(stages.Confirming());

    // The next OK is a first entry, whatever it holds, even the old one.
    const auto again = stages.Ok(L"Other");
    EXPECT_EQ(Step::Confirm, again.step);
    EXPECT_EQ(L"Please confirm your password.", again.prompt);
    EXPECT_EQ(L"other", stages.FirstEntry());
    EXPECT_EQ(Step::Mismatch, stages.Ok(L"first").step);
    stages.Ok(L"first");
    const auto accepted = stages.Ok(L"FIRST");
    EXPECT_EQ(Step::Accept, accepted.step);
    EXPECT_EQ(L"first", accepted.password);
}

TEST(PasswordStagesTest, CancelInTheConfirmationStageDropsTheFirstEntry) {
    PasswordStages stages;
    stages.Ok(L"abc");
    ASSERT_TRUE(stages.Confirming());
    stages.Cancel();
    EXPECT_FALSE(stages.Confirming());
    EXPECT_EQ(L"", stages.FirstEntry());
    // What would have confirmed "abc" is now a first entry.
    EXPECT_EQ(Step::Confirm, stages.Ok(L"abc").step);
}

}  // namespace
