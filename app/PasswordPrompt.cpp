#include "app/PasswordPrompt.h"

namespace vaultmere {

std::wstring PromptTextOnActivate(const AppState& state, const std::wstring& fieldText) {
    return state.rememberFlag ? state.storedPassword : fieldText;
}

}  // namespace vaultmere
