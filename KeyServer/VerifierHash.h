#pragma once

// Turns the password value a client sends ("Password", "NewPassword") into
// the verifier the server stores, and checks later values against it. The
// verifier is PBKDF2-HMAC-SHA-256 over the value with a random 16-byte salt
// per account and many rounds; the round count is stored with it so that it
// can be raised for new verifiers without breaking old ones. Comparison runs
// in constant time. The sent value itself is never stored.

#include <optional>
#include <string>
#include <string_view>

namespace keyserver {

struct Verifier
{
    std::string salt; // raw bytes
    std::string hash; // raw bytes
    int iterations = 0;

    bool isSet() const { return iterations > 0 && !salt.empty() && !hash.empty(); }
};

class VerifierHash
{
public:
    explicit VerifierHash(int iterations);

    // A new verifier with a fresh salt; empty when the crypto library failed.
    std::optional<Verifier> make(std::string_view secret) const;
    // True when the secret produces the stored hash. An unset verifier never matches.
    bool matches(const Verifier& verifier, std::string_view secret) const;
    // Does the work of one check without a verifier, so that a request for an
    // unknown account takes as long as a wrong password for a known one.
    void spendCheckTime(std::string_view secret) const;

    // PBKDF2-HMAC-SHA-256; empty on failure. Exposed for tests with published vectors.
    static std::string pbkdf2Sha256(std::string_view secret, std::string_view salt, int iterations, std::size_t length);

private:
    int m_iterations;
};

} // namespace keyserver
