#include "VerifierHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace keyserver {

namespace {
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
} // namespace

VerifierHash::VerifierHash(int iterations)
    : m_iterations(iterations > 0 ? iterations : 1)
{
}

std::string VerifierHash::pbkdf2Sha256(
    std::string_view secret, std::string_view salt, int iterations, std::size_t length)
{
    std::string out(length, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(secret.data(), static_cast<int>(secret.size()),
        reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), iterations, EVP_sha256(),
        static_cast<int>(out.size()), reinterpret_cast<unsigned char*>(out.data()));
    if (ok != 1)
        return {};
    return out;
}

std::optional<Verifier> VerifierHash::make(std::string_view secret) const
{
    Verifier verifier;
    verifier.salt.assign(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(verifier.salt.data()), static_cast<int>(kSaltBytes)) != 1)
        return std::nullopt;
    verifier.iterations = m_iterations;
    verifier.hash = pbkdf2Sha256(secret, verifier.salt, m_iterations, kHashBytes);
    if (verifier.hash.empty())
        return std::nullopt;
    return verifier;
}

bool VerifierHash::matches(const Verifier& verifier, std::string_view secret) const
{
    if (!verifier.isSet()) {
        spendCheckTime(secret);
        return false;
    }
    const std::string candidate = pbkdf2Sha256(secret, verifier.salt, verifier.iterations, verifier.hash.size());
    if (candidate.size() != verifier.hash.size())
        return false;
    return CRYPTO_memcmp(candidate.data(), verifier.hash.data(), candidate.size()) == 0;
}

void VerifierHash::spendCheckTime(std::string_view secret) const
{
    static const std::string fixedSalt(kSaltBytes, '\x5a');
    (void)pbkdf2Sha256(secret, fixedSalt, m_iterations, kHashBytes);
}

} // namespace keyserver
