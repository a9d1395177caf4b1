#include "CliApp.h"

#include "AccountCommand.h"
#include "AccountSession.h"
#include "CliArgumentParser.h"
#include "CliHelp.h"
#include "CliReporter.h"
#include "InfoCommand.h"
#include "SharesCommand.h"
#include "ShredCommand.h"
#include "VaultCommand.h"

#include "log/AvLog.h"
#include "server/AvKeyServerClient.h"
#include "settings/AvGlobalLibSettings.h"

CliApp::CliApp(std::ostream& out, std::ostream& err, bool showProgress, PathResolver resolver)
    : m_out(out)
    , m_err(err)
    , m_showProgress(showProgress)
    , m_resolver(std::move(resolver))
{
}

void CliApp::resolvePaths(CliOptions& options) const
{
    for (std::string& path : options.paths)
        path = m_resolver.resolve(path);
    options.passwordFile = m_resolver.resolve(options.passwordFile);
    options.newPasswordFile = m_resolver.resolve(options.newPasswordFile);
    options.toFolder = m_resolver.resolve(options.toFolder);
}

int CliApp::run(const std::vector<std::string>& words)
{
    std::string error;
    auto options = CliArgumentParser::parse(words, error);
    if (!options) {
        m_err << "avlt: " << error << "\nTry \"avlt --help\"." << std::endl;
        return CliCommand::UsageError;
    }
    if (options->help) {
        m_out << CliHelp::text(options->command);
        m_out.flush();
        return CliCommand::Success;
    }
    resolvePaths(*options);
    return dispatch(*options);
}

int CliApp::dispatch(const CliOptions& options)
{
    // The log lives in the data folder; it is only written when asked for and
    // when there is a data folder to hold it.
    if (options.log && !AccountSession::existingDataFolder().empty())
        AvLog::writeStartBanner();
    // Other users' public keys (shares --set) and server accounts' sign-in go
    // through the key server unless told to stay offline.
    if (options.offline)
        AvGlobalLibSettings::instance().offlineMode = true;
    else
        installKeyServerClient();

    CliReporter reporter(m_err);
    CliContext context{ m_out, reporter, m_showProgress };
    const std::string& command = options.command;
    if (command == "account")
        return AccountCommand(context).run(options);
    if (command == "vault")
        return VaultCommand(context, FileWalker::Direction::Vault).run(options);
    if (command == "unvault")
        return VaultCommand(context, FileWalker::Direction::Unvault).run(options);
    if (command == "info")
        return InfoCommand(context).run(options);
    if (command == "shares")
        return SharesCommand(context).run(options);
    if (command == "shred")
        return ShredCommand(context).run(options);
    reporter.error("unknown command " + command);
    return CliCommand::UsageError;
}
