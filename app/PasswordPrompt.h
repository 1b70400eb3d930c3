#pragma once
// What the access password prompt decides, without its window.
#include <cstdint>
#include <string>

#include "common/AppState.h"

namespace vaultmere {

// The field's text when the prompt becomes active: the stored password when
// the user asked to have it remembered, else what the field holds.
std::wstring PromptTextOnActivate(const AppState& state, const std::wstring& fieldText);

// What the prompt says after a wrong password while the next one would
// wait so many milliseconds: whole seconds, rounded up.
std::wstring WrongPasswordNotice(std::uint64_t waitMs);

}  // namespace vaultmere
