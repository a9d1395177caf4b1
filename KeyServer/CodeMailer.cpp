#include "CodeMailer.h"

#include "Authenticator.h"

namespace keyserver {

namespace {

std::string describeLifetime(std::chrono::seconds lifetime)
{
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(lifetime).count();
    if (minutes >= 120 && minutes % 60 == 0)
        return std::to_string(minutes / 60) + " hours";
    return std::to_string(minutes) + " minutes";
}

} // namespace

CodeMailer::CodeMailer(OneTimeCodes& codes, Mailer& mailer, const Clock& clock, const ServerPolicy& policy)
    : m_codes(codes)
    , m_mailer(mailer)
    , m_perAccount(policy.mailsPerAccount, clock)
    , m_perAddress(policy.mailsPerAddress, clock)
{
}

std::string CodeMailer::subjectFor(CodePurpose purpose)
{
    switch (purpose) {
    case CodePurpose::Verification:
        return "Your Ardentvault verification code";
    case CodePurpose::Recovery:
        return "Your Ardentvault password recovery code";
    case CodePurpose::Reset:
        return "Your Ardentvault password reset code";
    }
    return "Your Ardentvault code";
}

std::string CodeMailer::bodyFor(CodePurpose purpose, const std::string& code, std::chrono::seconds lifetime)
{
    std::string intro;
    std::string notice;
    switch (purpose) {
    case CodePurpose::Verification:
        intro = "please enter this verification code in Ardentvault to confirm your e-mail address:";
        notice = "If you did not create an Ardentvault account, you can ignore this mail.";
        break;
    case CodePurpose::Recovery:
        intro = "please enter this recovery code in Ardentvault to recover your password:";
        notice = "If you did not ask to recover your password, you can ignore this mail.";
        break;
    case CodePurpose::Reset:
        intro = "please enter this reset code in Ardentvault to set a new password:";
        notice = "A reset gives your account new keys: files vaulted for your old keys can no longer be opened.\n"
                 "If you did not ask for a reset, you can ignore this mail.";
        break;
    }
    return "Hello,\n\n" + intro + "\n\n" + code + "\n\nThe code is valid for " + describeLifetime(lifetime)
        + " and can be used once.\n" + notice + "\n";
}

Failure CodeMailer::sendCode(const Account& account, CodePurpose purpose, const std::string& clientAddress)
{
    const std::string accountKey = Authenticator::accountKey(account);
    if (m_perAccount.isBlocked(accountKey) || m_perAddress.isBlocked(clientAddress))
        return Failure::TooManyRequests;
    const std::string code = m_codes.issue(account.loginId, purpose);
    if (code.empty())
        return Failure::ServerError;
    m_perAccount.record(accountKey);
    m_perAddress.record(clientAddress);
    if (!m_mailer.send(account.email, subjectFor(purpose), bodyFor(purpose, code, m_codes.lifetime(purpose))))
        return Failure::MailFailed;
    return Failure::None;
}

} // namespace keyserver
