#pragma once

// "avlt account ...": the account's life cycle from a terminal or a script.
//   create-local      a local account (six-digit id, own key pair); prints the id
//   register          a server account for an e-mail address; prints the login id
//   verify            completes the registration with the mailed code, then signs in
//   signin            unlocks the key ring (fetching newer keys) and reports the account
//   whoami            the account that would be used, read from its key-ring file
//   change-password   re-seals every key with a new password (locally and on the server)
//   recover           with the recovery half on this computer and a mailed code:
//                     a new password, every file still readable
//   reset             with a mailed code: a new password and a new key pair
// New passwords come from --new-password-file, AVLT_NEW_PASSWORD or a prompt
// (asked twice); a current password as for every other command.

#include "CliCommand.h"

#include "crypto/SecureString.h"

#include <optional>
#include <string>

class AccountCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;
    int run(const CliOptions& options) override;

private:
    bool ensureDataFolder();
    std::optional<SecureString> newPassword(const CliOptions& options);
    void reportResult(const std::string& what, const std::string& result);
    bool signInAfterVerification(const std::string& email, const SecureString& password);

    int createLocal(const CliOptions& options);
    int registerAccount(const CliOptions& options);
    int verify(const CliOptions& options);
    int signIn(const CliOptions& options);
    int whoAmI(const CliOptions& options);
    int changePassword(const CliOptions& options);
    int recover(const CliOptions& options);
    int reset(const CliOptions& options);
};
