#pragma once
// The system's PBKDF2-HMAC-SHA256 and random numbers (bcrypt.dll, loaded
// from the system folder only, as it is no KnownDLL).
#include "common/PasswordVerifier.h"

namespace vaultmere {

class SystemPasswordHash final : public PasswordHash {
public:
    bool Derive(const std::string& password, const SecretBytes& salt, std::uint32_t iterations,
                SecretBytes& key) override;
    bool Random(SecretBytes& bytes) override;
};

}  // namespace vaultmere
