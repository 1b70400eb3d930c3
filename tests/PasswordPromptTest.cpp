#include <gtest/gtest.h>

#include "app/PasswordPrompt.h"

namespace vaultmere {
namespace {

TEST(PasswordPrompt, EntryIsComparedWithoutCaseAndExactlyOtherwise) {
    AppState state;
    EXPECT_TRUE(PromptContinue(state, L"", false).accepted);
    EXPECT_FALSE(PromptContinue(state, L"x", false).accepted);

    state.storedPassword = L"secret";
    EXPECT_TRUE(PromptContinue(state, L"SeCrEt", false).accepted);
    EXPECT_FALSE(PromptContinue(state, L"secret ", false).accepted);
    EXPECT_FALSE(PromptContinue(state, L"", false).accepted);
    EXPECT_EQ(L"", PromptContinue(state, L"wrong", false).fieldText);

    // A password stored with capitals can still be matched.
    state.storedPassword = L"Secret";
    EXPECT_TRUE(PromptContinue(state, L"secret", false).accepted);
    // One that could not be read matches nothing, not even "".
    state.storedPassword.clear();
    state.passwordUnreadable = true;
    EXPECT_FALSE(PromptContinue(state, L"", false).accepted);
}

TEST(PasswordPrompt, RememberFlagFollowsTheBoxOnlyOnSuccess) {
    AppState state;
    state.storedPassword = L"pw";
    PromptContinue(state, L"bad", true);
    EXPECT_FALSE(state.rememberFlag);
    PromptContinue(state, L"pw", true);
    EXPECT_TRUE(state.rememberFlag);
    EXPECT_EQ(L"pw", PromptTextOnActivate(state, L""));
    state.storedPassword = L"new";
    EXPECT_EQ(L"new", PromptTextOnActivate(state, L""));
    PromptContinue(state, L"new", false);
    EXPECT_FALSE(state.rememberFlag);
    EXPECT_EQ(L"typed", PromptTextOnActivate(state, L"typed"));
}

}  // namespace
}  // namespace vaultmere
