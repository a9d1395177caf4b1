#pragma once

// Issues a code for an account and mails it to the account's address, within
// the mail rate limits per account and per client address. The mail says
// what the code is for and how long it lasts; the code stands alone on its
// own line so that people and scripts can pick it out.

#include "AccountStore.h"
#include "CommandResult.h"
#include "Mailer.h"
#include "OneTimeCodes.h"
#include "RateLimiter.h"

#include <string>

namespace keyserver {

class CodeMailer
{
public:
    CodeMailer(OneTimeCodes& codes, Mailer& mailer, const Clock& clock, const ServerPolicy& policy);

    // Failure::None when the code went out; TooManyRequests, MailFailed or ServerError otherwise.
    Failure sendCode(const Account& account, CodePurpose purpose, const std::string& clientAddress);

    // Subject and body of the mail carrying `code`.
    static std::string subjectFor(CodePurpose purpose);
    static std::string bodyFor(CodePurpose purpose, const std::string& code, std::chrono::seconds lifetime);

private:
    OneTimeCodes& m_codes;
    Mailer& m_mailer;
    RateLimiter m_perAccount;
    RateLimiter m_perAddress;
};

} // namespace keyserver
