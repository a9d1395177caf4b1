#include "Authenticator.h"

#include "RequestFields.h"

#include "util/AvStrings.h"

namespace keyserver {

namespace {
constexpr std::size_t kMaxLoginIdDigits = 18;
constexpr std::size_t kMaxPasswordChars = 256;
} // namespace

Authenticator::Authenticator(
    AccountStore& store, const VerifierHash& hash, const Clock& clock, const ServerPolicy& policy)
    : m_store(store)
    , m_hash(hash)
    , m_perAccount(policy.failuresPerAccount, clock)
    , m_perAddress(policy.failuresPerAddress, clock)
{
}

AccountStore::Status Authenticator::findAccount(std::string_view name, Account& account)
{
    if (name.size() > 254 || !RequestFields::isCleanText(name))
        return AccountStore::Status::NotFound;
    if (isNumericId(name)) {
        const std::string digits = compactNumericId(trimSpaces(name));
        if (digits.size() > kMaxLoginIdDigits)
            return AccountStore::Status::NotFound;
        return m_store.findByLoginId(std::stoll(digits), account);
    }
    const std::string address = normalizeUserName(name);
    if (!RequestFields::isValidEmail(address))
        return AccountStore::Status::NotFound;
    return m_store.findByEmail(address, account);
}

std::string Authenticator::accountKey(const Account& account)
{
    return "account:" + std::to_string(account.loginId);
}

std::string Authenticator::nameKey(std::string_view name)
{
    return "name:" + compactNumericId(normalizeUserName(name.substr(0, 254)));
}

bool Authenticator::isThrottled(const std::string& key, const std::string& clientAddress)
{
    return m_perAddress.isBlocked(clientAddress) || m_perAccount.isBlocked(key);
}

void Authenticator::recordFailure(const std::string& key, const std::string& clientAddress)
{
    m_perAddress.record(clientAddress);
    m_perAccount.record(key);
}

void Authenticator::clearFailures(const std::string& key)
{
    m_perAccount.clear(key);
}

Authenticator::Outcome Authenticator::authenticate(const Json::Value& request, const std::string& clientAddress)
{
    const RequestFields fields(request);
    const std::string user = fields.looseText("User");
    std::string password = fields.looseText("Password");
    if (password.size() > kMaxPasswordChars)
        password.clear();

    Outcome outcome;
    const AccountStore::Status found = findAccount(user, outcome.account);
    if (found == AccountStore::Status::Failed)
        return { Failure::ServerError, {} };
    const bool exists = found == AccountStore::Status::Ok;
    const std::string key = exists ? accountKey(outcome.account) : nameKey(user);

    if (isThrottled(key, clientAddress)) {
        m_hash.spendCheckTime(password);
        return { Failure::TooManyAttempts, {} };
    }
    if (exists && !outcome.account.verified) {
        // Before verification there is no password to check: the protocol's own answer.
        return { Failure::NotVerified, {} };
    }
    bool matches = false;
    if (exists && !password.empty())
        matches = m_hash.matches(outcome.account.verifier, password);
    else
        m_hash.spendCheckTime(password);
    if (!matches) {
        recordFailure(key, clientAddress);
        return { Failure::Denied, {} };
    }
    clearFailures(key);
    return outcome;
}

} // namespace keyserver
