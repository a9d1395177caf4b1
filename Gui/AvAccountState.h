#pragma once

// AvAccountState: the user interface's one window onto the key ring's
// sign-in state. Windows ask here whether an account is signed in, under which
// login, and sign it out, instead of reaching into the key ring themselves, so
// that the state has a single source and the shell can be built and tested
// while the key ring evolves underneath.

#include <string>

class SecureString;

class AvAccountState
{
public:
    // True when the key ring is unlocked for an account.
    static bool isSignedIn();
    // The signed-in account's login (numeric ID or e-mail address); empty when
    // nobody is signed in.
    static std::string loginName();
    // Locks the key ring: the account and its keys are forgotten in memory.
    static void signOut();
    // A local account (numeric ID, known only to this computer).
    static bool isLocalAccount();
    // Whether the signed-in account keeps the recovery half of its password.
    static bool passwordRecoveryEnabled();
    // Changes the signed-in account's password; the key ring's result text
    // ("OK", "Denied", "Error", "Offlinemode", ...).
    static std::string changePassword(
        const SecureString& oldPassword, const SecureString& newPassword, bool passwordRecovery);
};
