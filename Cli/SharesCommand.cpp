#include "SharesCommand.h"

#include "AccountSession.h"
#include "CliReporter.h"

#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"
#include "files/FileTools.h"
#include "files/FileToolsCodes.h"

int SharesCommand::run(const CliOptions& options)
{
    const std::string& path = options.paths.front();
    return options.setUsers ? replace(path, options) : list(path);
}

int SharesCommand::list(const std::string& path)
{
    // The file tools answer an unreadable file with an empty list; open it
    // first so that a broken file is reported rather than shown as unshared.
    std::uint32_t code = 0;
    {
        const CCryptFile container(path, CCryptFile::ReadOnly, CCryptFile::QuietBrokenShares, code);
    }
    if (CryptFileCode::isFailure(code)) {
        m_context.reporter.failure("shares", path, code);
        return Failed;
    }
    for (const std::string& user : FileTools::GetFileShares(path))
        m_context.out << user << "\n";
    m_context.out.flush();
    return Success;
}

int SharesCommand::replace(const std::string& path, const CliOptions& options)
{
    AccountSession session;
    if (!session.signIn(options.user, options.passwordFile, m_context.reporter))
        return Failed;
    const std::uint32_t code = FileTools::SetFileShares(path, *options.setUsers);
    if (FileToolsCode::isFailure(code)) {
        m_context.reporter.failure("shares --set", path, code);
        return Failed;
    }
    return Success;
}
