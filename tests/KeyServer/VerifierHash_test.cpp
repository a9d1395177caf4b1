// The password verifier: PBKDF2-HMAC-SHA-256 against published vectors, salts
// per verifier, and matching.

#include "VerifierHash.h"

#include <gtest/gtest.h>

using namespace keyserver;

namespace {

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0f];
    }
    return out;
}

TEST(VerifierHash, Pbkdf2Sha256MatchesRfc7914Vectors)
{
    // RFC 7914, section 11 (test vectors for PBKDF2 with HMAC-SHA-256).
    struct Row
    {
        const char* password;
        const char* salt;
        int iterations;
        const char* expected;
    };
    const Row rows[] = {
        { "passwd", "salt", 1,
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783" },
        { "Password", "NaCl", 80000,
            "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
            "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(hex(VerifierHash::pbkdf2Sha256(row.password, row.salt, row.iterations, 64)), row.expected);
}

TEST(VerifierHash, MatchesOnlyTheValueItWasMadeFrom)
{
    const VerifierHash hash(1000);
    const auto verifier = hash.make("c2VydmVyIHBhc3N3b3Jk");
    ASSERT_TRUE(verifier);
    EXPECT_EQ(verifier->iterations, 1000);
    EXPECT_EQ(verifier->salt.size(), 16u);
    EXPECT_EQ(verifier->hash.size(), 32u);
    EXPECT_TRUE(hash.matches(*verifier, "c2VydmVyIHBhc3N3b3Jk"));
    EXPECT_FALSE(hash.matches(*verifier, "c2VydmVyIHBhc3N3b3JK"));
    EXPECT_FALSE(hash.matches(*verifier, ""));
    EXPECT_FALSE(hash.matches(Verifier{}, ""));
}

TEST(VerifierHash, SameValueGetsDifferentSaltsAndKeepsItsRoundCount)
{
    const auto first = VerifierHash(1000).make("value");
    const auto second = VerifierHash(1000).make("value");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->salt, second->salt);
    EXPECT_NE(first->hash, second->hash);
    // A server configured with more rounds still checks the old verifier.
    EXPECT_TRUE(VerifierHash(5000).matches(*first, "value"));
}

} // namespace
