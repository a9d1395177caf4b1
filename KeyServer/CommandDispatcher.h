#pragma once

// Routes one parsed request to its command handler by the member "Command",
// and owns the services the handlers share (verifier hash, codes, mail,
// failure counters). A request that is not an object, has no string
// "Command", names an unknown command or the refused SQL test command, or
// makes a handler throw, gets its failure answer here; nothing escapes.

#include "AccountCommands.h"
#include "AccountStore.h"
#include "Authenticator.h"
#include "Clock.h"
#include "CodeMailer.h"
#include "CommandResult.h"
#include "Mailer.h"
#include "OneTimeCodes.h"
#include "RecoveryCommands.h"
#include "RegistrationCommands.h"
#include "ServerPolicy.h"
#include "VerifierHash.h"

#include <json/value.h>

#include <functional>
#include <map>
#include <string>

namespace keyserver {

class CommandDispatcher
{
public:
    struct Outcome
    {
        std::string command; // printable, for the log; "-" when there was none
        CommandResult result;
    };

    CommandDispatcher(AccountStore& store, Mailer& mailer, const Clock& clock, const ServerPolicy& policy);

    Outcome dispatch(const Json::Value& request, const std::string& clientAddress);

    const ServerPolicy& policy() const { return m_policy; }

private:
    using Handler = std::function<CommandResult(const CommandRequest&)>;
    void registerHandlers();

    ServerPolicy m_policy;
    VerifierHash m_hash;
    Authenticator m_authenticator;
    OneTimeCodes m_codes;
    CodeMailer m_codeMailer;
    RegistrationCommands m_registration;
    AccountCommands m_accounts;
    RecoveryCommands m_recovery;
    std::map<std::string, Handler, std::less<>> m_handlers;
};

} // namespace keyserver
