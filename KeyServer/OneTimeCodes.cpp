#include "OneTimeCodes.h"

#include "CodeGenerator.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace keyserver {

namespace {

std::int64_t secondsSinceEpoch(Clock::TimePoint time)
{
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

} // namespace

OneTimeCodes::OneTimeCodes(AccountStore& store, const Clock& clock, const ServerPolicy& policy)
    : m_store(store)
    , m_clock(clock)
    , m_policy(policy)
{
}

std::chrono::seconds OneTimeCodes::lifetime(CodePurpose purpose) const
{
    return purpose == CodePurpose::Verification ? m_policy.verificationCodeLifetime : m_policy.recoveryCodeLifetime;
}

std::string OneTimeCodes::digest(std::string_view salt, std::string_view code)
{
    std::string input;
    input.reserve(salt.size() + code.size());
    input.append(salt).append(code);
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), hash, &length, EVP_sha256(), nullptr) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(hash), length);
}

std::string OneTimeCodes::issue(std::int64_t loginId, CodePurpose purpose)
{
    std::string code = CodeGenerator::generate(m_policy.codeDigits);
    StoredCode stored;
    stored.salt.assign(16, '\0');
    if (code.empty() || RAND_bytes(reinterpret_cast<unsigned char*>(stored.salt.data()), 16) != 1)
        return {};
    stored.hash = digest(stored.salt, code);
    stored.expiresAt = secondsSinceEpoch(m_clock.now() + lifetime(purpose));
    if (stored.hash.empty() || m_store.saveCode(loginId, purpose, stored) != AccountStore::Status::Ok)
        return {};
    return code;
}

OneTimeCodes::Check OneTimeCodes::check(std::int64_t loginId, CodePurpose purpose, std::string_view code)
{
    StoredCode stored;
    switch (m_store.findCode(loginId, purpose, stored)) {
    case AccountStore::Status::Ok:
        break;
    case AccountStore::Status::NotFound:
        return Check::Missing;
    default:
        return Check::Failed;
    }
    if (secondsSinceEpoch(m_clock.now()) >= stored.expiresAt) {
        m_store.deleteCode(loginId, purpose);
        return Check::Missing;
    }
    if (stored.wrongAttempts >= m_policy.maxWrongCodeAttempts) {
        m_store.deleteCode(loginId, purpose);
        return Check::Missing;
    }
    const std::string candidate = digest(stored.salt, code);
    if (!code.empty() && candidate.size() == stored.hash.size()
        && CRYPTO_memcmp(candidate.data(), stored.hash.data(), candidate.size()) == 0)
        return Check::Match;
    if (m_store.countWrongCode(loginId, purpose, m_policy.maxWrongCodeAttempts) == AccountStore::Status::Failed)
        return Check::Failed;
    return Check::Mismatch;
}

bool OneTimeCodes::consume(std::int64_t loginId, CodePurpose purpose)
{
    return m_store.deleteCode(loginId, purpose) == AccountStore::Status::Ok;
}

} // namespace keyserver
