#pragma once

// Commands for a lost password, sent without signing in. "PasswordRecovery2"
// mails a recovery code and, given the right code, hands out the stored
// second half of the account's derived key ("PartialPassword"); it answers
// "Unavailable" when the account keeps no such half. "PasswordReset2" mails
// a reset code, checks it (request form) and, in its complete form, replaces
// password verifier and key list with a new key pair.

#include "AccountStore.h"
#include "Authenticator.h"
#include "CodeMailer.h"
#include "CommandRequest.h"
#include "CommandResult.h"
#include "OneTimeCodes.h"
#include "VerifierHash.h"

namespace keyserver {

class RecoveryCommands
{
public:
    RecoveryCommands(AccountStore& store, Authenticator& authenticator, OneTimeCodes& codes, CodeMailer& codeMailer,
        const VerifierHash& hash);

    CommandResult passwordRecovery(const CommandRequest& request);
    CommandResult passwordReset(const CommandRequest& request);

private:
    struct Target
    {
        Failure failure = Failure::None;
        Account account;
        std::string key; // failure counter key
    };
    // The account named by "User", unless unknown (Denied) or throttled.
    Target findTarget(const CommandRequest& request);
    // Checks a code; wrong and void codes count as failures and answer Denied.
    Failure checkCode(
        const Target& target, CodePurpose purpose, const std::string& code, const std::string& clientAddress);
    CommandResult completeReset(const CommandRequest& request);

    AccountStore& m_store;
    Authenticator& m_authenticator;
    OneTimeCodes& m_codes;
    CodeMailer& m_codeMailer;
    const VerifierHash& m_hash;
};

} // namespace keyserver
