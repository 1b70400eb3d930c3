// The stored password's verifier with the system's own PBKDF2: published
// vectors, and what matches a verifier, text, or nothing.
#include <gtest/gtest.h>

#include <string>

#include "common/PasswordVerifier.h"
#include "common/SystemPasswordHash.h"

namespace vaultmere {
namespace {

TEST(PasswordVerifierTest, TheSystemHashGivesThePublishedKeys) {
    SystemPasswordHash hash;
    // The last: what a verifier hashes, the password as UTF-8.
    const struct {
        std::string password, salt;
        std::uint32_t iterations;
        std::string key;
    } vectors[] = {
        {"password", "salt", 1, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 4096, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {PasswordBytes(L"s\u00e9cret"), "saltsaltsaltsalt", 2,
         "cd234cc9cd59ee50eaf102f409978dd95157f904c986664e59c2599395a3ed0e"},
    };
    for (const auto& vector : vectors) {
        SecretBytes key(32);
        ASSERT_TRUE(
            hash.Derive(vector.password, SecretBytes(vector.salt.begin(), vector.salt.end()), vector.iterations, key));
        std::string hex;
        for (const unsigned char byte : key) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
        EXPECT_EQ(vector.key, hex) << vector.iterations;
    }
}

TEST(PasswordVerifierTest, AVerifierMatchesItsPasswordInAnyCaseTextIsComparedExactly) {
    SystemPasswordHash hash;
    const std::wstring verifier = MakePasswordVerifier(hash, L"S\u00e9cret", 1000);
    ASSERT_EQ(0u, verifier.find(L"$pbkdf2-sha256$1000$"));
    EXPECT_EQ(std::wstring::npos, verifier.find(L"cret"));
    for (const wchar_t* right : {L"s\u00e9cret", L"S\u00c9CRET"}) EXPECT_TRUE(PasswordMatches(hash, right, verifier));
    for (const wchar_t* wrong : {L"secret", L"s\u00e9cret ", L""}) EXPECT_FALSE(PasswordMatches(hash, wrong, verifier));
    // Changed by hand: cut short, with a salt that is not base64, or asking
    // for more rounds than are ever made.
    for (const std::wstring& bad :
         {verifier.substr(0, verifier.size() - 1), L"$pbkdf2-sha256$1000$!$" + verifier.substr(43),
          L"$pbkdf2-sha256$10000001$" + verifier.substr(20)}) {
        EXPECT_EQ(StoredPassword::Malformed, KindOfStoredPassword(bad)) << bad;
        EXPECT_FALSE(PasswordMatches(hash, L"s\u00e9cret", bad)) << bad;
    }
    // Text: the lower-cased entry exactly; nothing stored: only an empty entry.
    EXPECT_TRUE(PasswordMatches(hash, L"SeCrEt", L"secret"));
    EXPECT_FALSE(PasswordMatches(hash, L"secret ", L"secret"));
    EXPECT_TRUE(PasswordMatches(hash, L"", L"") && !PasswordMatches(hash, L" ", L""));
}

}  // namespace
}  // namespace vaultmere
