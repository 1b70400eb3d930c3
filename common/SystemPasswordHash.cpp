#include "common/SystemPasswordHash.h"

#include <windows.h>
#include <bcrypt.h>

#include "common/SystemFunction.h"
#include "common/UniqueHandle.h"

namespace vaultmere {
namespace {

// bcrypt.dll for one call, from the system folder.
UniqueModule LoadBcrypt() {
    return UniqueModule(::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace

bool SystemPasswordHash::Derive(const std::string& password, const SecretBytes& salt, std::uint32_t iterations,
                                SecretBytes& key) {
    const UniqueModule bcrypt = LoadBcrypt();
    const auto open = SystemFunction<decltype(&::BCryptOpenAlgorithmProvider)>(bcrypt.Get(),
                                                                               "BCryptOpenAlgorithmProvider");
    const auto close = SystemFunction<decltype(&::BCryptCloseAlgorithmProvider)>(bcrypt.Get(),
                                                                                 "BCryptCloseAlgorithmProvider");
    const auto derive = SystemFunction<decltype(&::BCryptDeriveKeyPBKDF2)>(bcrypt.Get(), "BCryptDeriveKeyPBKDF2");
    if (!open || !close || !derive || key.empty() || iterations == 0) return false;
    BCRYPT_ALG_HANDLE hmac = nullptr;
    if (open(&hmac, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0) return false;
    // The functions take no const pointers but do not write what they read.
    const NTSTATUS status = derive(hmac, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
                                   static_cast<ULONG>(password.size()), const_cast<PUCHAR>(salt.data()),
                                   static_cast<ULONG>(salt.size()), iterations, key.data(),
                                   static_cast<ULONG>(key.size()), 0);
    close(hmac, 0);
    return status >= 0;
}

bool SystemPasswordHash::Random(SecretBytes& bytes) {
    const UniqueModule bcrypt = LoadBcrypt();
    const auto random = SystemFunction<decltype(&::BCryptGenRandom)>(bcrypt.Get(), "BCryptGenRandom");
    return random && !bytes.empty() &&
           random(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace vaultmere
