#include "AccountCommands.h"

#include "KeyList.h"
#include "RequestFields.h"

#include "util/AvStrings.h"

namespace keyserver {

namespace {

constexpr std::size_t kMaxLanguageBytes = 35;
constexpr std::size_t kMaxUserNameBytes = 254;

CommandResult fromStatus(AccountStore::Status status)
{
    return status == AccountStore::Status::Ok ? CommandResult::ok() : CommandResult::fail(Failure::ServerError);
}

} // namespace

AccountCommands::AccountCommands(AccountStore& store, Authenticator& authenticator, const VerifierHash& hash)
    : m_store(store)
    , m_authenticator(authenticator)
    , m_hash(hash)
{
}

CommandResult AccountCommands::authenticate(const CommandRequest& request)
{
    // "EncryptedFilesCount", "ManualLogin", "HasDB" and "HasOutlook" are
    // client statistics; the server keeps none of them.
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    const Account& account = caller.account;
    Json::Value members(Json::objectValue);
    members["Firstname"] = account.firstName;
    members["Lastname"] = account.lastName;
    members["PasswordRecovery"] = account.passwordRecovery ? 1 : 0;
    members["ActiveKey"] = keyIdToText(account.activeKey);
    members["Keylist"] = KeyList::toKeylist(account.keys);
    return CommandResult::ok(members);
}

CommandResult AccountCommands::getUserkeys(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    Json::Value members(Json::objectValue);
    members["Userkeys"] = KeyList::toUserkeys(caller.account.keys, caller.account.activeKey);
    members["ActiveKey"] = keyIdToText(caller.account.activeKey);
    return CommandResult::ok(members);
}

CommandResult AccountCommands::changePassword(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    RequestFields fields(request.body);
    const UploadedCredentials uploaded = fields.uploadedCredentials();
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);

    // The uploaded list, sealed under the new password, replaces the stored one.
    CredentialUpdate update;
    if (const Failure failure = uploaded.toUpdate(caller.account, m_hash, update); failure != Failure::None)
        return CommandResult::fail(failure);
    return fromStatus(m_store.storeCredentials(caller.account.loginId, update, nullptr));
}

CommandResult AccountCommands::setUserkeys(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    RequestFields fields(request.body);
    std::vector<StoredKey> keys = fields.keyList("Userkeys");
    const std::uint64_t requested = fields.keyId("ActiveKey");
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);
    const std::uint64_t active = KeyList::chooseActiveKey(keys, requested, caller.account);
    if (active == 0)
        return CommandResult::fail(Failure::InvalidRequest);
    KeyList::keepKnownPublicKeys(keys, caller.account.keys);
    return fromStatus(m_store.storeKeys(caller.account.loginId, active, keys));
}

CommandResult AccountCommands::updateAccount(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    RequestFields fields(request.body);
    const std::string firstName = fields.personName("Firstname");
    const std::string lastName = fields.personName("Lastname");
    std::string language = caller.account.language;
    if (fields.has("Language"))
        language = fields.optionalText("Language", kMaxLanguageBytes);
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);
    return fromStatus(m_store.updateProfile(caller.account.loginId, firstName, lastName, language));
}

CommandResult AccountCommands::upgradeAccount(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    RequestFields fields(request.body);
    const std::string address = fields.emailAddress("EMailAddress");
    const std::string firstName = fields.personName("Firstname");
    const std::string lastName = fields.personName("Lastname");
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);
    // Every account here already has a verified address; an upgrade can
    // confirm it and the names, never move the account to another address.
    if (address != caller.account.email)
        return CommandResult::fail(Failure::Denied);
    return fromStatus(m_store.updateProfile(caller.account.loginId, firstName, lastName, caller.account.language));
}

CommandResult AccountCommands::getUserPublicKey(const CommandRequest& request)
{
    const Authenticator::Outcome caller = m_authenticator.authenticate(request.body, request.clientAddress);
    if (caller.failure != Failure::None)
        return CommandResult::fail(caller.failure);
    RequestFields fields(request.body);
    const std::string invoked = fields.optionalText("InvokedUser", kMaxUserNameBytes);
    if (!fields.isValid())
        return CommandResult::fail(Failure::NoSuchUser);

    Account account;
    switch (m_authenticator.findAccount(invoked, account)) {
    case AccountStore::Status::Ok:
        break;
    case AccountStore::Status::Failed:
        return CommandResult::fail(Failure::ServerError);
    default:
        return CommandResult::fail(Failure::NoSuchUser);
    }
    const StoredKey* active = KeyList::find(account.keys, account.activeKey);
    // An account that never completed its registration has no key to share to.
    if (!account.verified || !active || active->publicKey.empty())
        return CommandResult::fail(Failure::NoSuchUser);
    Json::Value members(Json::objectValue);
    members["PublicKey"] = active->publicKey;
    members["ActiveKey"] = keyIdToText(account.activeKey);
    return CommandResult::ok(members);
}

} // namespace keyserver
