#pragma once
// What the access password prompt decides, without its window.
#include <string>

#include "common/AppState.h"

namespace vaultmere {

// The field's text when the prompt becomes active: the stored password when
// the user asked to have it remembered, else what the field holds.
std::wstring PromptTextOnActivate(const AppState& state, const std::wstring& fieldText);

struct ContinueOutcome {
    bool accepted = false;
    std::wstring fieldText;  // what the field holds afterwards
};

// Continue: the entry is lower-cased and compared with the stored password,
// itself lower-cased, so a password stored with capitals can still be
// matched; nothing matches a stored password that could not be read. On a
// match the remember flag takes the check box's state.
ContinueOutcome PromptContinue(AppState& state, const std::wstring& entry, bool rememberChecked);

}  // namespace vaultmere
