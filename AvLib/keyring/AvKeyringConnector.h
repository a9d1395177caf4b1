#pragma once

// The key ring's channel to the key server. The key ring owns one connector
// (its field `connector`), bound to itself, and drives the account commands
// through it: authentication at unlock, fetching the key list, the password
// change and the public key look-up of another user. The server library
// implements this interface and installs a factory on the key ring with
// AvKeyring::setConnectorFactory; without one the key ring behaves as if the
// key server could not be reached. Every call is synchronous and returns the
// command's result text ("OK", "Denied", "Error", "UnknownHostException", ...).

#include "crypto/SecureString.h"

#include <string>

class AvKeyringConnector
{
public:
    virtual ~AvKeyringConnector() = default;

    // When on, a request that cannot be completed answers "UnknownHostException";
    // when off, "Error".
    virtual void setReportConnectionFailure(bool on) = 0;
    virtual bool reportConnectionFailure() const = 0;

    // "Authenticate3" with the key ring's credentials and login statistics;
    // may answer "RefreshKeys" when the server's key list differs.
    virtual std::string Authenticate() = 0;
    // "GetUserkeys2": imports the server's key list and active key into the key ring.
    virtual std::string GetUserkeys() = 0;
    // "ChangePassword2": the key list sealed with credentials built from the
    // key ring's user name and the new password.
    virtual std::string ChangePassword(const SecureString& newPassword, bool passwordRecovery) = 0;
    // "GetUserPublicKey2": consults the public key cache, then the server; on
    // success the user's key is in the key ring ("OK", "OK_FromCache").
    virtual std::string GetUserPublicKey(const std::string& userName) = 0;
};
