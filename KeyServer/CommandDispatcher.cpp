#include "CommandDispatcher.h"

#include "ServerLog.h"

#include <exception>
#include <string_view>

namespace keyserver {

namespace {
// A command this server never runs: it would execute SQL sent by the client.
constexpr const char* kRefusedSqlCommand = "Unittest_DBExecuteScalar";
} // namespace

CommandDispatcher::CommandDispatcher(
    AccountStore& store, Mailer& mailer, const Clock& clock, const ServerPolicy& policy)
    : m_policy(policy)
    , m_hash(m_policy.verifierIterations)
    , m_authenticator(store, m_hash, clock, m_policy)
    , m_codes(store, clock, m_policy)
    , m_codeMailer(m_codes, mailer, clock, m_policy)
    , m_registration(store, m_authenticator, m_codes, m_codeMailer, m_hash, clock)
    , m_accounts(store, m_authenticator, m_hash)
    , m_recovery(store, m_authenticator, m_codes, m_codeMailer, m_hash)
{
    registerHandlers();
}

void CommandDispatcher::registerHandlers()
{
    m_handlers = {
        { "RegisterUser3", [this](const CommandRequest& r) { return m_registration.registerUser(r); } },
        { "ValidateUser3", [this](const CommandRequest& r) { return m_registration.validateUser(r); } },
        { "GetLoginID3", [this](const CommandRequest& r) { return m_registration.getLoginId(r); } },
        { "ConnectivityCheck", [this](const CommandRequest& r) { return m_registration.connectivityCheck(r); } },
        { "Authenticate3", [this](const CommandRequest& r) { return m_accounts.authenticate(r); } },
        { "GetUserkeys2", [this](const CommandRequest& r) { return m_accounts.getUserkeys(r); } },
        { "ChangePassword2", [this](const CommandRequest& r) { return m_accounts.changePassword(r); } },
        { "SetUserkeys", [this](const CommandRequest& r) { return m_accounts.setUserkeys(r); } },
        { "UpdateAccount", [this](const CommandRequest& r) { return m_accounts.updateAccount(r); } },
        { "UpgradeAccount", [this](const CommandRequest& r) { return m_accounts.upgradeAccount(r); } },
        { "GetUserPublicKey2", [this](const CommandRequest& r) { return m_accounts.getUserPublicKey(r); } },
        { "PasswordRecovery2", [this](const CommandRequest& r) { return m_recovery.passwordRecovery(r); } },
        { "PasswordReset2", [this](const CommandRequest& r) { return m_recovery.passwordReset(r); } },
        { kRefusedSqlCommand, [](const CommandRequest&) { return CommandResult::fail(Failure::CommandRefused); } },
    };
}

CommandDispatcher::Outcome CommandDispatcher::dispatch(const Json::Value& request, const std::string& clientAddress)
{
    if (!request.isObject())
        return { "-", CommandResult::fail(Failure::InvalidRequest) };
    static constexpr std::string_view kCommand = "Command";
    const Json::Value* command = request.find(kCommand.data(), kCommand.data() + kCommand.size());
    if (!command || !command->isString())
        return { "-", CommandResult::fail(Failure::InvalidRequest) };
    const std::string name = command->asString();
    const std::string printableName = ServerLog::printable(name);
    const auto handler = m_handlers.find(name);
    if (handler == m_handlers.end())
        return { printableName, CommandResult::fail(Failure::UnknownCommand) };
    try {
        return { printableName, handler->second(CommandRequest{ request, clientAddress }) };
    } catch (const std::exception&) {
        // jsoncpp and the standard library may throw on what slipped past the checks.
        return { printableName, CommandResult::fail(Failure::ServerError) };
    }
}

} // namespace keyserver
