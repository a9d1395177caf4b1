#include "AvAccountState.h"

#include "keyring/AvKeyring.h"

bool AvAccountState::isSignedIn()
{
    return AvKeyring::instance().unlocked;
}

std::string AvAccountState::loginName()
{
    const AvKeyring& keyring = AvKeyring::instance();
    return keyring.unlocked ? keyring.userName() : std::string();
}

void AvAccountState::signOut()
{
    AvKeyring::instance().Reset();
}

bool AvAccountState::isLocalAccount()
{
    return AvKeyring::instance().AccountKind() == AvKeyring::LocalAccount;
}

bool AvAccountState::passwordRecoveryEnabled()
{
    return AvKeyring::instance().usePasswordRecovery;
}

std::string AvAccountState::changePassword(
    const SecureString& oldPassword, const SecureString& newPassword, bool passwordRecovery)
{
    return AvKeyring::instance().ChangePassword(oldPassword, newPassword, passwordRecovery);
}
