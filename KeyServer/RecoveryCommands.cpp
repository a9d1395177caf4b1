#include "RecoveryCommands.h"

#include "RequestFields.h"

namespace keyserver {

RecoveryCommands::RecoveryCommands(AccountStore& store, Authenticator& authenticator, OneTimeCodes& codes,
    CodeMailer& codeMailer, const VerifierHash& hash)
    : m_store(store)
    , m_authenticator(authenticator)
    , m_codes(codes)
    , m_codeMailer(codeMailer)
    , m_hash(hash)
{
}

RecoveryCommands::Target RecoveryCommands::findTarget(const CommandRequest& request)
{
    const std::string user = RequestFields(request.body).looseText("User");
    Target target;
    const AccountStore::Status found = m_authenticator.findAccount(user, target.account);
    if (found == AccountStore::Status::Failed) {
        target.failure = Failure::ServerError;
        return target;
    }
    target.key =
        found == AccountStore::Status::Ok ? Authenticator::accountKey(target.account) : Authenticator::nameKey(user);
    if (m_authenticator.isThrottled(target.key, request.clientAddress)) {
        target.failure = Failure::TooManyAttempts;
    } else if (found != AccountStore::Status::Ok) {
        m_authenticator.recordFailure(target.key, request.clientAddress);
        target.failure = Failure::Denied;
    }
    return target;
}

Failure RecoveryCommands::checkCode(
    const Target& target, CodePurpose purpose, const std::string& code, const std::string& clientAddress)
{
    switch (m_codes.check(target.account.loginId, purpose, code)) {
    case OneTimeCodes::Check::Match:
        return Failure::None;
    case OneTimeCodes::Check::Failed:
        return Failure::ServerError;
    default:
        m_authenticator.recordFailure(target.key, clientAddress);
        return Failure::Denied;
    }
}

CommandResult RecoveryCommands::passwordRecovery(const CommandRequest& request)
{
    RequestFields fields(request.body);
    const std::string code = fields.code("RecoveryCode");
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);
    const Target target = findTarget(request);
    if (target.failure != Failure::None)
        return CommandResult::fail(target.failure);
    const Account& account = target.account;
    if (!account.verified || !account.passwordRecovery || account.partialPassword.empty())
        return CommandResult::fail(Failure::Unavailable);

    if (code.empty())
        return CommandResult::of(m_codeMailer.sendCode(account, CodePurpose::Recovery, request.clientAddress));

    const Failure checked = checkCode(target, CodePurpose::Recovery, code, request.clientAddress);
    if (checked != Failure::None)
        return CommandResult::fail(checked);
    if (!m_codes.consume(account.loginId, CodePurpose::Recovery))
        return CommandResult::fail(Failure::Denied); // used by a concurrent request
    m_authenticator.clearFailures(target.key);
    Json::Value members(Json::objectValue);
    members["PartialPassword"] = account.partialPassword;
    return CommandResult::ok(members);
}

CommandResult RecoveryCommands::passwordReset(const CommandRequest& request)
{
    RequestFields fields(request.body);
    if (fields.has("NewPassword"))
        return completeReset(request);
    const std::string code = fields.code("ResetCode");
    if (!fields.isValid())
        return CommandResult::fail(Failure::InvalidRequest);
    const Target target = findTarget(request);
    if (target.failure != Failure::None)
        return CommandResult::fail(target.failure);

    if (code.empty())
        return CommandResult::of(m_codeMailer.sendCode(target.account, CodePurpose::Reset, request.clientAddress));
    // Only checked here: the complete form that follows uses the code up.
    return CommandResult::of(checkCode(target, CodePurpose::Reset, code, request.clientAddress));
}

CommandResult RecoveryCommands::completeReset(const CommandRequest& request)
{
    RequestFields fields(request.body);
    const std::string code = fields.code("ResetCode");
    const UploadedCredentials uploaded = fields.uploadedCredentials();
    if (!fields.isValid() || uploaded.activeKey == 0 || code.empty())
        return CommandResult::fail(Failure::InvalidRequest);
    const Target target = findTarget(request);
    if (target.failure != Failure::None)
        return CommandResult::fail(target.failure);
    const Failure checked = checkCode(target, CodePurpose::Reset, code, request.clientAddress);
    if (checked != Failure::None)
        return CommandResult::fail(checked);

    // A reset starts over with the new key pair; the old keys cannot be
    // opened without the old password anyway.
    CredentialUpdate update;
    if (const Failure failure = uploaded.toUpdate(Account{}, m_hash, update); failure != Failure::None)
        return CommandResult::fail(failure);
    // The mailed code proves the address as well as a verification code would.
    update.markVerified = true;

    const CodePurpose purpose = CodePurpose::Reset;
    switch (m_store.storeCredentials(target.account.loginId, update, &purpose)) {
    case AccountStore::Status::Ok:
        m_authenticator.clearFailures(target.key);
        return CommandResult::ok();
    case AccountStore::Status::Conflict:
        return CommandResult::fail(Failure::Denied);
    default:
        return CommandResult::fail(Failure::ServerError);
    }
}

} // namespace keyserver
