#pragma once

// Commands a signed-in account sends with its "User" and "Password":
// "Authenticate3" (the account's names, recovery flag and key ids),
// "GetUserkeys2", "ChangePassword2", "SetUserkeys", "UpdateAccount",
// "UpgradeAccount" and "GetUserPublicKey2" (another user's active public
// key, by address or login id). Each first authenticates the request.

#include "AccountStore.h"
#include "Authenticator.h"
#include "CommandRequest.h"
#include "CommandResult.h"
#include "VerifierHash.h"

namespace keyserver {

class AccountCommands
{
public:
    AccountCommands(AccountStore& store, Authenticator& authenticator, const VerifierHash& hash);

    CommandResult authenticate(const CommandRequest& request);
    CommandResult getUserkeys(const CommandRequest& request);
    CommandResult changePassword(const CommandRequest& request);
    CommandResult setUserkeys(const CommandRequest& request);
    CommandResult updateAccount(const CommandRequest& request);
    CommandResult upgradeAccount(const CommandRequest& request);
    CommandResult getUserPublicKey(const CommandRequest& request);

private:
    AccountStore& m_store;
    Authenticator& m_authenticator;
    const VerifierHash& m_hash;
};

} // namespace keyserver
