#pragma once

// Decides who a request speaks for. Finds accounts by login id or e-mail
// address, checks the "User"/"Password" pair that signed-in clients send, and
// keeps the failure counters (wrong passwords and wrong codes) per account
// and per client address. A wrong password, an unknown account and a blocked
// account or address all answer "Denied" and cost the same hashing time, so
// the answer does not tell whether the account exists.

#include "AccountStore.h"
#include "CommandResult.h"
#include "RateLimiter.h"
#include "ServerPolicy.h"

#include <json/value.h>

#include <string>
#include <string_view>

namespace keyserver {

class Authenticator
{
public:
    struct Outcome
    {
        Failure failure = Failure::None;
        Account account;
    };

    Authenticator(AccountStore& store, const VerifierHash& hash, const Clock& clock, const ServerPolicy& policy);

    // Checks the request's "User" (login id or address) and "Password".
    Outcome authenticate(const Json::Value& request, const std::string& clientAddress);

    // Looks up a login id (digits, spaces allowed) or an e-mail address.
    AccountStore::Status findAccount(std::string_view name, Account& account);

    // The failure counter key of an account, or of a name that named none.
    static std::string accountKey(const Account& account);
    static std::string nameKey(std::string_view name);

    bool isThrottled(const std::string& key, const std::string& clientAddress);
    void recordFailure(const std::string& key, const std::string& clientAddress);
    void clearFailures(const std::string& key);

private:
    AccountStore& m_store;
    const VerifierHash& m_hash;
    RateLimiter m_perAccount;
    RateLimiter m_perAddress;
};

} // namespace keyserver
