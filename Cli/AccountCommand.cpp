#include "AccountCommand.h"

#include "AccountSession.h"
#include "CliReporter.h"
#include "PasswordSource.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"
#include "server/AVServerConnector.h"
#include "server/AvServerAccount.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvStrings.h"

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Signs the key ring out when the command ends, whatever happened.
struct SignOutAtEnd
{
    ~SignOutAtEnd() { AvKeyring::instance().Reset(); }
};

} // namespace

void AccountCommand::reportResult(const std::string& what, const std::string& result)
{
    m_context.reporter.error(what + ": " + AccountSession::describeResult(result));
}

bool AccountCommand::ensureDataFolder()
{
    std::string error;
    if (!AccountSession::createDataFolder(error)) {
        m_context.reporter.error(error);
        return false;
    }
    AvGlobalLibSettings::instance().dataFolderPath();
    return true;
}

std::optional<SecureString> AccountCommand::newPassword(const CliOptions& options)
{
    std::string error;
    auto password = PasswordSource(options.newPasswordFile, PasswordSource::NewPasswordVariable)
                        .obtain("New password", true, error);
    if (!password)
        m_context.reporter.error(error);
    return password;
}

int AccountCommand::run(const CliOptions& options)
{
    const std::string& sub = options.subcommand;
    if (sub == "create-local")
        return createLocal(options);
    if (sub == "register")
        return registerAccount(options);
    if (sub == "verify")
        return verify(options);
    if (sub == "signin")
        return signIn(options);
    if (sub == "whoami")
        return whoAmI(options);
    if (sub == "change-password")
        return changePassword(options);
    if (sub == "recover")
        return recover(options);
    if (sub == "reset")
        return reset(options);
    m_context.reporter.error("unknown account sub-command " + sub);
    return UsageError;
}

int AccountCommand::createLocal(const CliOptions& options)
{
    std::string error;
    const auto password = PasswordSource(options.passwordFile).obtain("New password", true, error);
    if (!password) {
        m_context.reporter.error(error);
        return Failed;
    }
    if (!ensureDataFolder())
        return Failed;

    SignOutAtEnd signOut;
    const std::string id = AvKeyring::instance().CreateLocalAccount(*password);
    if (id.empty()) {
        m_context.reporter.error("creating a local account failed (the key-ring file could not be written)");
        return Failed;
    }
    m_context.out << id << std::endl;
    return Success;
}

bool AccountCommand::signInAfterVerification(const std::string& email, const SecureString& password)
{
    SignOutAtEnd signOut;
    const std::string result = AvKeyring::instance().UnlockWithPassword(email, password);
    if (result != "OK") {
        reportResult("the account " + email + " is verified, but signing in failed", result);
        return false;
    }
    m_context.out << "Signed in as " << AvKeyring::instance().userName() << " (id " << AvKeyring::instance().userId()
                  << ")" << std::endl;
    return true;
}

int AccountCommand::registerAccount(const CliOptions& options)
{
    const std::string email = normalizeUserName(options.email);
    std::string loginId;
    bool validationRequired = true;
    const std::string result =
        AvServerAccount::RegisterAccount(email, options.firstName, options.lastName, loginId, validationRequired);
    if (result != "OK") {
        reportResult("registering " + email + " failed", result);
        return Failed;
    }
    m_context.out << loginId << std::endl;
    if (validationRequired) {
        m_context.reporter.note("a verification code was mailed to " + email
            + "; complete the account with: avlt account verify --email " + email + " --code CODE");
        return Success;
    }

    // The server wants no proof: complete the account at once.
    const auto password = newPassword(options);
    if (!password || !ensureDataFolder())
        return Failed;
    std::string noCode;
    const std::string validated =
        AvServerAccount::ValidateAccount(email, loginId, noCode, *password, !options.noRecovery);
    if (validated != "OK") {
        reportResult("completing the account " + email + " failed", validated);
        return Failed;
    }
    return signInAfterVerification(email, *password) ? Success : Failed;
}

int AccountCommand::verify(const CliOptions& options)
{
    const std::string email = normalizeUserName(options.email);
    std::string loginId;
    AVServerConnector connector(true);
    const std::string lookedUp = connector.GetLoginID(email, loginId);
    if (loginId.empty()) {
        reportResult("cannot verify " + email, lookedUp == "OK" ? "Error" : lookedUp);
        return Failed;
    }
    const auto password = newPassword(options);
    if (!password || !ensureDataFolder())
        return Failed;

    std::string code = options.code;
    const std::string result = AvServerAccount::ValidateAccount(email, loginId, code, *password, !options.noRecovery);
    if (result != "OK") {
        reportResult("verifying " + email + " failed", result);
        return Failed;
    }
    // The first sign-in fetches the account's keys and makes its key-ring file.
    return signInAfterVerification(email, *password) ? Success : Failed;
}

int AccountCommand::signIn(const CliOptions& options)
{
    AccountSession session;
    if (!session.signIn(options.user, options.passwordFile, m_context.reporter))
        return Failed;
    const AvKeyring& ring = AvKeyring::instance();
    const bool local = ring.AccountKind() == AvKeyring::LocalAccount;
    m_context.out << "Signed in as " << ring.userName() << (local ? " (local account)" : " (id " + ring.userId() + ")");
    const std::string name = trimSpaces(ring.firstName + " " + ring.lastName);
    if (!name.empty())
        m_context.out << ", " << name;
    m_context.out << "; " << ring.privateKeys.size() << (ring.privateKeys.size() == 1 ? " key" : " keys")
                  << ", active key " << ring.activeCryptKeyID << std::endl;
    return Success;
}

int AccountCommand::whoAmI(const CliOptions& options)
{
    std::string error;
    const auto user = AccountSession::chooseUser(options.user, error);
    if (!user) {
        m_context.reporter.error(error);
        return Failed;
    }
    const std::string folder = AccountSession::existingDataFolder();
    const std::string path = folder + "Keys/" + underscoreName(normalizeUserName(*user)) + ".avltkey";
    std::error_code ignored;
    if (folder.empty() || !fs::is_regular_file(path, ignored)) {
        m_context.reporter.error("no key-ring file for " + *user + " on this computer");
        return Failed;
    }
    std::map<std::string, std::string> info = AccountSession::infoOfKeyRingFile(path);
    const std::string name = info["Username"].empty() ? normalizeUserName(*user) : info["Username"];
    m_context.out << "user:    " << name << "\n";
    m_context.out << "kind:    " << (isNumericId(name) ? "local account" : "server account") << "\n";
    if (!info["UserID"].empty())
        m_context.out << "id:      " << info["UserID"] << "\n";
    const std::string fullName = trimSpaces(info["Firstname"] + " " + info["Lastname"]);
    if (!fullName.empty())
        m_context.out << "name:    " << fullName << "\n";
    m_context.out << "recovery: "
                  << (AvCredentials::StoredPartialPassword(normalizeUserName(name)).empty() ? "off" : "on") << "\n";
    m_context.out.flush();
    return Success;
}

int AccountCommand::changePassword(const CliOptions& options)
{
    AccountSession session;
    if (!session.signIn(options.user, options.passwordFile, m_context.reporter))
        return Failed;
    const auto password = newPassword(options);
    if (!password)
        return Failed;
    AvKeyring& ring = AvKeyring::instance();
    const bool recovery = options.noRecovery ? false : ring.usePasswordRecovery;
    const std::string result = ring.ChangePassword(*ring.credentials, *password, recovery);
    if (result != "OK") {
        reportResult("changing the password of " + session.userName() + " failed", result);
        return Failed;
    }
    m_context.out << "Password changed for " << session.userName() << std::endl;
    return Success;
}

int AccountCommand::recover(const CliOptions& options)
{
    const std::string email = normalizeUserName(options.email);
    if (AccountSession::existingDataFolder().empty() || !AvServerAccount::HasRecoveryKey(email)) {
        m_context.reporter.error("no recovery key for " + email
            + " on this computer (its key-ring file with password recovery on); "
              "\"avlt account reset\" sets a new password with new keys instead");
        return Failed;
    }
    if (options.code.empty()) {
        const std::string result = AvServerAccount::RequestRecoveryCode(email);
        if (result != "OK") {
            reportResult("asking for a recovery code for " + email + " failed", result);
            return Failed;
        }
        m_context.reporter.note("a recovery code was mailed to " + email
            + "; finish with: avlt account recover --email " + email + " --code CODE");
        return Success;
    }

    const auto password = newPassword(options);
    if (!password)
        return Failed;
    SignOutAtEnd signOut;
    const std::string result = AvServerAccount::RecoverPassword(email, options.code, *password);
    if (result != "OK") {
        reportResult("recovering " + email + " failed", result);
        return Failed;
    }
    m_context.out << "Password changed for " << email << "; every file stays readable" << std::endl;
    return Success;
}

int AccountCommand::reset(const CliOptions& options)
{
    std::string email = options.email;
    std::string code = options.code;
    if (code.empty()) {
        const std::string result = AvServerAccount::ResetPassword(email, code, SecureString(), true);
        if (result != "OK") {
            reportResult("asking for a reset code for " + email + " failed", result);
            return Failed;
        }
        m_context.reporter.note("a reset code was mailed to " + email + "; finish with: avlt account reset --email "
            + email + " --code CODE");
        return Success;
    }

    const auto password = newPassword(options);
    if (!password)
        return Failed;
    const std::string result = AvServerAccount::ResetPassword(email, code, *password, !options.noRecovery);
    if (result != "OK") {
        reportResult("resetting the password of " + email + " failed", result);
        return Failed;
    }
    m_context.out << "New password set for " << email << "; files vaulted for the old keys can no longer be opened"
                  << std::endl;
    return Success;
}
