#pragma once

// AvServerAccount: the server account operations that need no signed-in key
// ring and talk to the key server through a connector of their own:
// registering an address, completing the registration (or upgrading the
// signed-in local account) with the account's first key pair, resetting a
// forgotten password with a mailed code (new keys), and recovering a password
// from the half kept in the local key-ring file plus the half the key server
// hands out for a mailed code (same keys). Results are the key server's
// result texts ("OK", "Denied", "Duplicate", "Unavailable", "Error",
// "UnknownHostException", ...); nothing throws.

#include "crypto/SecureString.h"

#include <string>

class AvServerAccount
{
public:
    // "RegisterUser3" for the normalized address and capitalized names; on
    // "OK" `loginId` is the account's login id, and `validationRequired` says
    // whether a mailed code must complete it.
    static std::string RegisterAccount(const std::string& email, const std::string& firstName,
        const std::string& lastName, std::string& loginId, bool& validationRequired);

    // Completes a registration ("ValidateUser3"). `code` is trimmed (and
    // written back). With a local account signed in, its active key pair
    // becomes the new account's; otherwise a new key pair is made. Nothing is
    // stored locally: the first sign-in fetches the keys.
    static std::string ValidateAccount(const std::string& email, const std::string& loginId, std::string& code,
        const SecureString& password, bool passwordRecovery);

    // With an empty code: asks the server to mail a reset code. With a code:
    // makes a new key pair and sets the new password ("PasswordReset2").
    // `userName` is normalized and `code` trimmed (both written back).
    static std::string ResetPassword(
        std::string& userName, std::string& code, const SecureString& newPassword, bool passwordRecovery);

    // Whether this computer holds the recovery half of the account's key.
    static bool HasRecoveryKey(const std::string& userName);
    // Asks the server to mail a recovery code ("PasswordRecovery2" without code).
    static std::string RequestRecoveryCode(const std::string& userName);
    // Rebuilds the credentials from the local half and the server's half
    // (released for `code`), signs the account in with them and changes its
    // password to `newPassword`. On "OK" the account is signed in with the
    // new password and every key is still readable.
    static std::string RecoverPassword(
        const std::string& userName, const std::string& code, const SecureString& newPassword);
};
