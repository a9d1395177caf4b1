#pragma once

// The codes the server mails to prove control of an address: one pending code
// per account and purpose, kept only as a salted SHA-256 hash, valid until its
// expiry and for a limited number of wrong entries, then void. Checking a code
// does not use it up; the command that completes (ValidateUser3, the complete
// PasswordReset2, PasswordRecovery2) consumes it, atomically with its effect.

#include "AccountStore.h"
#include "Clock.h"
#include "ServerPolicy.h"

#include <string>
#include <string_view>

namespace keyserver {

class OneTimeCodes
{
public:
    enum class Check {
        Match,
        Mismatch, // wrong code; counted against the code's attempt limit
        Missing, // none pending, expired or void
        Failed // storage failure
    };

    OneTimeCodes(AccountStore& store, const Clock& clock, const ServerPolicy& policy);

    // Makes and stores a new code for the account, replacing a pending one of
    // the same purpose; returns the code to mail, or "" on failure.
    std::string issue(std::int64_t loginId, CodePurpose purpose);
    Check check(std::int64_t loginId, CodePurpose purpose, std::string_view code);
    // Uses the code up; false when it was no longer there.
    bool consume(std::int64_t loginId, CodePurpose purpose);

    std::chrono::seconds lifetime(CodePurpose purpose) const;

private:
    static std::string digest(std::string_view salt, std::string_view code);

    AccountStore& m_store;
    const Clock& m_clock;
    const ServerPolicy& m_policy;
};

} // namespace keyserver
