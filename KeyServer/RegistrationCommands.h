#pragma once

// Commands that create accounts before anyone can sign in: "RegisterUser3"
// (a new address gets a numeric login id and a mailed verification code),
// "ValidateUser3" (the code completes the account with its password
// verifier and first key list), "GetLoginID3" (the id that salts the
// client's password derivation, known as soon as the address is registered)
// and "ConnectivityCheck".

#include "AccountStore.h"
#include "Authenticator.h"
#include "Clock.h"
#include "CodeMailer.h"
#include "CommandRequest.h"
#include "CommandResult.h"
#include "OneTimeCodes.h"
#include "VerifierHash.h"

namespace keyserver {

class RegistrationCommands
{
public:
    RegistrationCommands(AccountStore& store, Authenticator& authenticator, OneTimeCodes& codes, CodeMailer& codeMailer,
        const VerifierHash& hash, const Clock& clock);

    CommandResult registerUser(const CommandRequest& request);
    CommandResult validateUser(const CommandRequest& request);
    CommandResult getLoginId(const CommandRequest& request);
    CommandResult connectivityCheck(const CommandRequest& request);

private:
    // Inserts the account under a fresh random login id.
    AccountStore::Status createAccount(Account& account);

    AccountStore& m_store;
    Authenticator& m_authenticator;
    OneTimeCodes& m_codes;
    CodeMailer& m_codeMailer;
    const VerifierHash& m_hash;
    const Clock& m_clock;
};

} // namespace keyserver
