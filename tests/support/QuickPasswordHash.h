#pragma once
// A stand-in for the system's slow hash where the keeper's rules are tested:
// quick, another key for any other password, salt or round count, and a
// count of its calls, so that tests see when hashing happened.
#include "common/PasswordVerifier.h"

namespace vaultmere {

class QuickPasswordHash final : public PasswordHash {
public:
    bool Derive(const std::string& password, const SecretBytes& salt, std::uint32_t iterations,
                SecretBytes& key) override {
        ++derived;
        std::uint64_t state = 1469598103934665603ull ^ iterations;
        const auto mix = [&state](unsigned byte) { state = (state ^ byte) * 1099511628211ull; };
        for (const char unit : password) mix(static_cast<unsigned char>(unit));
        for (const unsigned char byte : salt) mix(byte + 256u);
        for (unsigned char& byte : key) mix(0), byte = static_cast<unsigned char>(state >> 56);
        return true;
    }
    bool Random(SecretBytes& bytes) override {
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(++drawn_ * 37);
        return true;
    }
    int derived = 0;

private:
    unsigned drawn_ = 0;
};

}  // namespace vaultmere
