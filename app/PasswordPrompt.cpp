#include "app/PasswordPrompt.h"

namespace vaultmere {

std::wstring PromptTextOnActivate(const AppState& state, const std::wstring& fieldText) {
    return state.rememberFlag ? state.storedPassword : fieldText;
}

std::wstring WrongPasswordNotice(std::uint64_t waitMs) {
    if (waitMs == 0) return L"Wrong password.";
    return L"Wrong password. Try again in " + std::to_wstring((waitMs + 999) / 1000) + L" s.";
}

}  // namespace vaultmere
