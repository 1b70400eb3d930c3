#include "forms/password/PasswordStages.h"

#include <utility>

#include "common/PasswordVerifier.h"

namespace vaultmere {

PasswordStages::Outcome PasswordStages::Ok(const std::wstring& boxText) {
    Outcome outcome;
    // OK is disabled while the box is empty, but Enter or a stray message
    // must not turn an empty box into a password either.
    if (!OkEnabled(boxText)) return outcome;

    std::wstring entry = PasswordOf(boxText);
    if (firstEntry_.empty()) {
        firstEntry_ = std::move(entry);
        outcome.step = Step::Confirm;
        outcome.prompt = kConfirmPasswordPrompt;
        return outcome;
    }

    const bool matches = entry == firstEntry_;
    firstEntry_.clear();
    if (!matches) {
        outcome.step = Step::Mismatch;
        outcome.prompt = kPasswordMismatchPrompt;
        return outcome;
    }
    outcome.step = Step::Accept;
    outcome.password = std::move(entry);
    return outcome;
}

}  // namespace vaultmere
