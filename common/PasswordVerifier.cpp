#include "common/PasswordVerifier.h"

#include "common/SecureText.h"
#include "common/TextCase.h"

namespace vaultmere {
namespace {

constexpr wchar_t kVerifierPrefix[] = L"$pbkdf2-sha256$";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kFewestSaltBytes = 8;
constexpr std::size_t kMostSaltBytes = 64;
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::wstring Base64(const SecretBytes& bytes) {
    std::wstring text;
    std::uint32_t bits = 0;
    int count = 0;
    for (const unsigned char byte : bytes) {
        bits = (bits << 8) | byte;
        count += 8;
        while (count >= 6) {
            count -= 6;
            text += static_cast<wchar_t>(kBase64[(bits >> count) & 0x3F]);
        }
    }
    if (count > 0) text += static_cast<wchar_t>(kBase64[(bits << (6 - count)) & 0x3F]);
    return text;
}

// Base64 without padding; false for any other character or a length no
// whole number of bytes has.
bool FromBase64(const std::wstring& text, SecretBytes& bytes) {
    bytes.clear();
    if (text.size() % 4 == 1) return false;
    std::uint32_t bits = 0;
    int count = 0;
    for (const wchar_t unit : text) {
        const char* found = unit > 0 && unit < 0x80 ? std::char_traits<char>::find(kBase64, 64, static_cast<char>(unit))
                                                    : nullptr;
        if (!found) return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(found - kBase64);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<unsigned char>((bits >> count) & 0xFF));
        }
    }
    // The bits left over must be zero, so that one verifier has one spelling.
    return (bits & ((1u << count) - 1)) == 0;
}

struct Verifier {
    std::uint32_t iterations = 0;
    SecretBytes salt;
    SecretBytes hash;
};

bool ReadVerifier(const std::wstring& stored, Verifier& verifier) {
    const std::size_t prefix = std::char_traits<wchar_t>::length(kVerifierPrefix);
    if (stored.compare(0, prefix, kVerifierPrefix) != 0) return false;
    const std::size_t saltAt = stored.find(L'$', prefix);
    if (saltAt == std::wstring::npos) return false;
    const std::size_t hashAt = stored.find(L'$', saltAt + 1);
    if (hashAt == std::wstring::npos) return false;
    const std::wstring rounds = stored.substr(prefix, saltAt - prefix);
    if (rounds.empty() || rounds.size() > 9 || rounds[0] == L'0') return false;
    std::uint32_t iterations = 0;
    for (const wchar_t digit : rounds) {
        if (digit < L'0' || digit > L'9') return false;
        iterations = iterations * 10 + static_cast<std::uint32_t>(digit - L'0');
    }
    if (iterations > kMostPasswordIterations) return false;
    verifier.iterations = iterations;
    return FromBase64(stored.substr(saltAt + 1, hashAt - saltAt - 1), verifier.salt) &&
           verifier.salt.size() >= kFewestSaltBytes && verifier.salt.size() <= kMostSaltBytes &&
           FromBase64(stored.substr(hashAt + 1), verifier.hash) && verifier.hash.size() == kHashBytes;
}

bool SameBytes(const unsigned char* left, const unsigned char* right, std::size_t size) {
    unsigned char differ = 0;
    for (std::size_t i = 0; i < size; ++i) differ = static_cast<unsigned char>(differ | (left[i] ^ right[i]));
    return differ == 0;
}

}  // namespace

std::string PasswordBytes(const std::wstring& password) {
    std::string bytes;
    bytes.reserve(password.size() * 3);
    for (std::size_t i = 0; i < password.size(); ++i) {
        std::uint32_t code = static_cast<std::uint32_t>(password[i]);
        // UTF-16 pairs where wchar_t is 16 bits; a lone half becomes U+FFFD.
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < password.size() &&
            static_cast<std::uint32_t>(password[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(password[i + 1]) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(password[i + 1]) - 0xDC00);
            ++i;
        } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | (code >> 6));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes += static_cast<char>(0xE0 | (code >> 12));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (code >> 18));
            bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

StoredPassword KindOfStoredPassword(const std::wstring& stored) {
    if (stored.empty()) return StoredPassword::None;
    if (stored.compare(0, 7, L"$pbkdf2") == 0) {
        Verifier verifier;
        return ReadVerifier(stored, verifier) ? StoredPassword::Verifier : StoredPassword::Malformed;
    }
    if (stored.size() > kMaxPasswordLength || PasswordOf(stored) != stored) return StoredPassword::Untypable;
    return StoredPassword::Plain;
}

std::wstring PasswordOf(const std::wstring& typed) { return LowerCase(typed); }

std::wstring MakePasswordVerifier(PasswordHash& hash, const std::wstring& password, std::uint32_t iterations) {
    SecretBytes salt(kSaltBytes);
    SecretBytes key(kHashBytes);
    std::wstring lower = PasswordOf(password);
    std::string bytes = PasswordBytes(lower);
    WipeText(lower);
    const bool made = hash.Random(salt) && hash.Derive(bytes, salt, iterations, key);
    WipeBytes(bytes);
    if (!made) return std::wstring();
    return kVerifierPrefix + std::to_wstring(iterations) + L"$" + Base64(salt) + L"$" + Base64(key);
}

bool PasswordMatches(PasswordHash& hash, const std::wstring& entry, const std::wstring& stored) {
    std::wstring lower = PasswordOf(entry);
    std::string bytes = PasswordBytes(lower);
    WipeText(lower);
    bool matches = false;
    switch (KindOfStoredPassword(stored)) {
    case StoredPassword::None:
        matches = bytes.empty();
        break;
    case StoredPassword::Plain: {
        std::string kept = PasswordBytes(stored);
        matches = kept.size() == bytes.size() &&
                  SameBytes(reinterpret_cast<const unsigned char*>(kept.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        WipeBytes(kept);
        break;
    }
    case StoredPassword::Verifier: {
        Verifier verifier;
        ReadVerifier(stored, verifier);
        SecretBytes key(verifier.hash.size());
        matches = hash.Derive(bytes, verifier.salt, verifier.iterations, key) &&
                  SameBytes(key.data(), verifier.hash.data(), key.size());
        WipeBytes(key);
        break;
    }
    case StoredPassword::Untypable:
    case StoredPassword::Malformed:
        break;
    }
    WipeBytes(bytes);
    return matches;
}

}  // namespace vaultmere
