#pragma once
// The two stages of setting the access password: a first entry, then a
// confirmation that must match it. Passwords do not depend on case, so both
// entries are lower-cased before they are compared or kept. No Windows
// headers: the dialog shows what this decides.
#include <string>

namespace vaultmere {

constexpr wchar_t kSetPasswordPrompt[] = L"Set Password to access this Configuration.";
constexpr wchar_t kConfirmPasswordPrompt[] = L"Please confirm your password.";
constexpr wchar_t kPasswordMismatchPrompt[] = L"The password doesn't match, please enter it again.";

class PasswordStages {
public:
    enum class Step {
        Ignored,   // the box was empty: nothing happens
        Confirm,   // first entry kept; clear the box and ask for it again
        Mismatch,  // the confirmation differed; clear the box and start again
        Accept,    // both entries agree: store the password
    };

    struct Outcome {
        Step step = Step::Ignored;
        std::wstring prompt;    // the prompt label's new text (Confirm, Mismatch)
        std::wstring password;  // the lower-cased password to store (Accept)
    };

    // Whether OK is enabled while the box holds boxText.
    static bool OkEnabled(const std::wstring& boxText) { return !boxText.empty(); }

    // OK with boxText in the box.
    Outcome Ok(const std::wstring& boxText);
    // Cancel, Esc or the close box: the first entry is dropped.
    void Cancel() { firstEntry_.clear(); }

    bool Confirming() const { return !firstEntry_.empty(); }
    // The lower-cased first entry; empty in the first stage.
    const std::wstring& FirstEntry() const { return firstEntry_; }

private:
    std::wstring firstEntry_;
};

}  // namespace vaultmere
