// The stored password's verifier with the system's own PBKDF2: published
// vectors, and what matches a verifier, text, or nothing.
#include <gtest/gtest.h>

#include <string>

#include "common/PasswordVerifier.h"
#include "common/SystemPasswordHash.h"

namespace vaultmere {
namespace {

std::string Hex(const SecretBytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

SecretBytes Bytes(const std::string& text) { return SecretBytes(text.begin(), text.end()); }

TEST(PasswordVerifierTest, TheSystemHashGivesThePublishedKeys) {
    SystemPasswordHash hash;
    struct Vector {
        std::string password;
        std::string salt;
        std::uint32_t iterations;
        std::size_t length;
        std::string key;
    };
    const Vector vectors[] = {
        {"password", "salt", 1, 32, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 4096, 32, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 40,
         "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
        // What the verifier hashes: the password as UTF-8.
        {PasswordBytes(L"s\u00e9cret"), "saltsaltsaltsalt", 2, 32,
         "cd234cc9cd59ee50eaf102f409978dd95157f904c986664e59c2599395a3ed0e"},
    };
    for (const Vector& vector : vectors) {
        SecretBytes key(vector.length);
        ASSERT_TRUE(hash.Derive(vector.password, Bytes(vector.salt), vector.iterations, key));
        EXPECT_EQ(vector.key, Hex(key)) << vector.password << " " << vector.iterations;
    }
    SecretBytes first(16), second(16);
    ASSERT_TRUE(hash.Random(first));
    ASSERT_TRUE(hash.Random(second));
    EXPECT_NE(first, second);
}

TEST(PasswordVerifierTest, AVerifierMatchesItsPasswordInAnyCaseAndNothingElse) {
    SystemPasswordHash hash;
    const std::wstring verifier = MakePasswordVerifier(hash, L"S\u00e9cret", 1000);
    ASSERT_EQ(0u, verifier.find(L"$pbkdf2-sha256$1000$"));
    EXPECT_EQ(StoredPassword::Verifier, KindOfStoredPassword(verifier));
    EXPECT_EQ(std::wstring::npos, verifier.find(L"cret"));
    for (const wchar_t* right : {L"s\u00e9cret", L"S\u00c9CRET"}) EXPECT_TRUE(PasswordMatches(hash, right, verifier));
    for (const wchar_t* wrong : {L"secret", L"s\u00e9cret ", L"", L"s\u00e9cre"}) {
        EXPECT_FALSE(PasswordMatches(hash, wrong, verifier)) << wrong;
    }
    // Two verifiers of one password differ by their salt.
    EXPECT_NE(verifier, MakePasswordVerifier(hash, L"s\u00e9cret", 1000));
    // Made by hand: a changed hash matches nothing; one that cannot be read
    // (or that would take too long) is malformed.
    std::wstring changed = verifier;
    changed[changed.size() - 10] = changed[changed.size() - 10] == L'A' ? L'B' : L'A';
    EXPECT_FALSE(PasswordMatches(hash, L"s\u00e9cret", changed));
    const std::wstring salt = verifier.substr(20, 22);
    for (const std::wstring& bad :
         {verifier.substr(0, verifier.size() - 1), verifier + L"A", L"$pbkdf2-sha256$0$" + verifier.substr(20),
          L"$pbkdf2-sha256$10000001$" + verifier.substr(20), L"$pbkdf2-sha256$1000$" + salt,
          L"$pbkdf2-sha256$1000$!$" + verifier.substr(43), std::wstring(L"$pbkdf2")}) {
        EXPECT_EQ(StoredPassword::Malformed, KindOfStoredPassword(bad)) << bad;
        EXPECT_FALSE(PasswordMatches(hash, L"s\u00e9cret", bad)) << bad;
    }
}

TEST(PasswordVerifierTest, TextIsComparedExactlyWithTheLowerCasedEntry) {
    SystemPasswordHash hash;
    EXPECT_EQ(StoredPassword::Plain, KindOfStoredPassword(L"secret"));
    EXPECT_TRUE(PasswordMatches(hash, L"SeCrEt", L"secret"));
    EXPECT_FALSE(PasswordMatches(hash, L"secret ", L"secret"));
    EXPECT_FALSE(PasswordMatches(hash, L"secre", L"secret"));
    // Nothing stored: only an empty entry.
    EXPECT_EQ(StoredPassword::None, KindOfStoredPassword(L""));
    EXPECT_TRUE(PasswordMatches(hash, L"", L""));
    EXPECT_FALSE(PasswordMatches(hash, L" ", L""));
    // Text the prompt can never give.
    for (const wchar_t* untypable : {L"Secret", L"ninechars"}) {
        EXPECT_EQ(StoredPassword::Untypable, KindOfStoredPassword(untypable));
        EXPECT_FALSE(PasswordMatches(hash, untypable, untypable));
    }
}

}  // namespace
}  // namespace vaultmere
