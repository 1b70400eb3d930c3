#pragma once
// How the access password is kept and checked. What is stored is never its
// text but a verifier, a salted slow hash of the lower-cased password, in
// one string:
//   $pbkdf2-sha256$ITERATIONS$SALT$HASH   (salt and hash in base64)
// It is far longer than the prompt takes, so a version that compares text
// can never match it: such a version refuses every password. A value an
// administrator wrote as text (a script, reg add, an older version) is
// still taken as the password, compared exactly with the lower-cased entry,
// until a right entry replaces it with a verifier. No Windows headers: the
// slow hash itself is the system's (PasswordHash).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vaultmere {

// The most characters the prompt and the password dialog take.
constexpr std::size_t kMaxPasswordLength = 8;
// PBKDF2 rounds of a verifier made now, and the most a stored one may ask
// for: a value made to ask for more would hold every check up.
constexpr std::uint32_t kPasswordIterations = 600000;
constexpr std::uint32_t kMostPasswordIterations = 10000000;

using SecretBytes = std::vector<unsigned char>;

// The slow hash and the salt, as the system provides them; callable from
// any thread.
class PasswordHash {
public:
    virtual ~PasswordHash() = default;
    // PBKDF2-HMAC-SHA256 of password with salt, key.size() bytes long.
    virtual bool Derive(const std::string& password, const SecretBytes& salt, std::uint32_t iterations,
                        SecretBytes& key) = 0;
    // bytes.size() random bytes, for a salt.
    virtual bool Random(SecretBytes& bytes) = 0;
};

enum class StoredPassword {
    None,       // nothing stored: only an empty entry matches
    Plain,      // text, as the prompt can produce it
    Untypable,  // text no entry can match: longer than the prompt takes, or capital letters
    Verifier,
    Malformed,  // starts as a verifier does but cannot be read: nothing matches
};

StoredPassword KindOfStoredPassword(const std::wstring& stored);

// The password as it is compared and kept: the text typed, lower-cased.
// Windows show and send it so; every check and verifier is made of it.
std::wstring PasswordOf(const std::wstring& typed);

// A new verifier of password (lower-cased first); "" when the system gave
// no salt or no hash.
std::wstring MakePasswordVerifier(PasswordHash& hash, const std::wstring& password,
                                  std::uint32_t iterations = kPasswordIterations);

// Whether entry, lower-cased, is the stored password. The comparison takes
// the same time wherever the two differ.
bool PasswordMatches(PasswordHash& hash, const std::wstring& entry, const std::wstring& stored);

// The password as UTF-8, the bytes the hash is made of.
std::string PasswordBytes(const std::wstring& password);

}  // namespace vaultmere
