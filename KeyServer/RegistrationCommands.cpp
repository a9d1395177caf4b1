#include "RegistrationCommands.h"

#include "RequestFields.h"

#include <openssl/rand.h>

#include <cstring>

namespace keyserver {

namespace {

constexpr std::size_t kMaxLanguageBytes = 35;

// Login ids have nine digits: random, so they tell nothing about how many
// accounts exist, and never six digits, the length of local account ids.
bool randomLoginId(std::int64_t& loginId)
{
    unsigned char bytes[8];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    loginId = 100000000 + static_cast<std::int64_t>(value % 900000000);
    return true;
}

CommandResult registered(const Account& account)
{
    Json::Value members(Json::objectValue);
    members["LoginID"] = std::to_string(account.loginId);
    // Present exactly when a code was mailed and must be entered.
    members["Validation"] = "EMail";
    return CommandResult::ok(members);
}

} // namespace

RegistrationCommands::RegistrationCommands(AccountStore& store, Authenticator& authenticator, OneTimeCodes& codes,
    CodeMailer& codeMailer, const VerifierHash& hash, const Clock& clock)
    : m_store(store)
    , m_authenticator(authenticator)
    , m_codes(codes)
    , m_codeMailer(codeMailer)
    , m_hash(hash)
    , m_clock(clock)
{
}

AccountStore::Status RegistrationCommands::createAccount(Account& account)
{
    account.createdAt = std::chrono::duration_cast<std::chrono::seconds>(m_clock.now().time_since_epoch()).count();
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!randomLoginId(account.loginId))
            return AccountStore::Status::Failed;
        const AccountStore::Status inserted = m_store.insertAccount(account);
        if (inserted != AccountStore::Status::Conflict)
            return inserted;
        // Either the id was taken (draw again) or the address was registered meanwhile.
        Account existing;
        if (m_store.findByEmail(account.email, existing) == AccountStore::Status::Ok)
            return AccountStore::Status::Conflict;
    }
    return AccountStore::Status::Failed;
}

CommandResult RegistrationCommands::registerUser(const CommandRequest& request)
{
    RequestFields fields(request.body);
    Account account;
    account.email = fields.emailAddress("EMail");
    account.firstName = fields.personName("Firstname");
    account.lastName = fields.personName("Lastname");
    account.language = fields.optionalText("Language", kMaxLanguageBytes);
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);

    Account existing;
    switch (m_store.findByEmail(account.email, existing)) {
    case AccountStore::Status::Ok:
        if (existing.verified)
            return CommandResult::fail(Failure::Duplicate);
        // Registered but never verified: the address owner may start over
        // (the wizard registers again when the user goes back a page), and
        // gets a new code under the same login id.
        if (m_store.updateProfile(existing.loginId, account.firstName, account.lastName, account.language)
            != AccountStore::Status::Ok)
            return CommandResult::fail(Failure::ServerError);
        account.loginId = existing.loginId;
        break;
    case AccountStore::Status::NotFound:
        switch (createAccount(account)) {
        case AccountStore::Status::Ok:
            break;
        case AccountStore::Status::Conflict:
            return CommandResult::fail(Failure::Duplicate);
        default:
            return CommandResult::fail(Failure::ServerError);
        }
        break;
    default:
        return CommandResult::fail(Failure::ServerError);
    }

    const Failure mailed = m_codeMailer.sendCode(account, CodePurpose::Verification, request.clientAddress);
    if (mailed != Failure::None)
        return CommandResult::fail(mailed);
    return registered(account);
}

CommandResult RegistrationCommands::validateUser(const CommandRequest& request)
{
    RequestFields fields(request.body);
    const std::string user = fields.looseText("User");
    const std::string code = fields.code("Verifier");
    const UploadedCredentials uploaded = fields.uploadedCredentials();
    if (!fields.isValid() || uploaded.activeKey == 0)
        return CommandResult::fail(Failure::InvalidRequest);

    Account account;
    const AccountStore::Status found = m_authenticator.findAccount(user, account);
    if (found == AccountStore::Status::Failed)
        return CommandResult::fail(Failure::ServerError);
    const std::string key =
        found == AccountStore::Status::Ok ? Authenticator::accountKey(account) : Authenticator::nameKey(user);
    if (m_authenticator.isThrottled(key, request.clientAddress))
        return CommandResult::fail(Failure::TooManyAttempts);
    // An unknown address and one already verified get the same answer as a wrong code.
    if (found != AccountStore::Status::Ok || account.verified) {
        m_authenticator.recordFailure(key, request.clientAddress);
        return CommandResult::fail(Failure::Denied);
    }

    switch (m_codes.check(account.loginId, CodePurpose::Verification, code)) {
    case OneTimeCodes::Check::Match:
        break;
    case OneTimeCodes::Check::Failed:
        return CommandResult::fail(Failure::ServerError);
    default:
        m_authenticator.recordFailure(key, request.clientAddress);
        return CommandResult::fail(Failure::Denied);
    }

    CredentialUpdate update;
    if (const Failure failure = uploaded.toUpdate(account, m_hash, update); failure != Failure::None)
        return CommandResult::fail(failure);
    update.markVerified = true;

    const CodePurpose purpose = CodePurpose::Verification;
    switch (m_store.storeCredentials(account.loginId, update, &purpose)) {
    case AccountStore::Status::Ok:
        m_authenticator.clearFailures(key);
        return CommandResult::ok();
    case AccountStore::Status::Conflict: // the code was used by a concurrent request
        return CommandResult::fail(Failure::Denied);
    default:
        return CommandResult::fail(Failure::ServerError);
    }
}

CommandResult RegistrationCommands::getLoginId(const CommandRequest& request)
{
    const RequestFields fields(request.body);
    const std::string address = fields.looseText("EMail");
    const std::string key = Authenticator::nameKey(address);
    if (m_authenticator.isThrottled(key, request.clientAddress))
        return CommandResult::fail(Failure::TooManyAttempts);

    Account account;
    switch (m_authenticator.findAccount(address, account)) {
    case AccountStore::Status::Ok:
        break;
    case AccountStore::Status::Failed:
        return CommandResult::fail(Failure::ServerError);
    default:
        // Misses count as failures so that probing many addresses is slowed down.
        m_authenticator.recordFailure(key, request.clientAddress);
        return CommandResult::fail(Failure::Denied);
    }
    Json::Value members(Json::objectValue);
    members["LoginID"] = std::to_string(account.loginId);
    return CommandResult::ok(members);
}

CommandResult RegistrationCommands::connectivityCheck(const CommandRequest&)
{
    return CommandResult::ok();
}

} // namespace keyserver
