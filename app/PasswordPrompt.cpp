#include "app/PasswordPrompt.h"

#include "common/TextCase.h"

namespace vaultmere {

std::wstring PromptTextOnActivate(const AppState& state, const std::wstring& fieldText) {
    return state.rememberFlag ? state.storedPassword : fieldText;
}

ContinueOutcome PromptContinue(AppState& state, const std::wstring& entry, bool rememberChecked) {
    ContinueOutcome outcome;
    if (state.passwordUnreadable || LowerCase(entry) != LowerCase(state.storedPassword)) return outcome;
    state.rememberFlag = rememberChecked;
    outcome.accepted = true;
    return outcome;
}

}  // namespace vaultmere
