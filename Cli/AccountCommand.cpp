#include "AccountCommand.h"

#include "CliReporter.h"
#include "PasswordSource.h"

#include "keyring/AvKeyring.h"
#include "settings/AvGlobalLibSettings.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

bool AccountCommand::ensureDataFolder()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        m_context.reporter.error("HOME is not set; the data folder lives in $HOME/Documents/Ardentvault");
        return false;
    }
    // The library makes the data folder itself (one level, mode 0700), but
    // not the Documents folder it lives in.
    const fs::path data = fs::path(home) / "Documents" / "Ardentvault";
    std::error_code error;
    fs::create_directories(data.parent_path(), error);
    if (!fs::is_directory(data, error) && ::mkdir(data.c_str(), 0700) != 0) {
        m_context.reporter.error("cannot create the data folder " + data.string());
        return false;
    }
    return true;
}

int AccountCommand::run(const CliOptions& options)
{
    std::string error;
    const auto password = PasswordSource(options.passwordFile).obtain("New password", true, error);
    if (!password) {
        m_context.reporter.error(error);
        return Failed;
    }
    if (!ensureDataFolder())
        return Failed;
    AvGlobalLibSettings::instance().dataFolderPath();

    AvKeyring& keyring = AvKeyring::instance();
    const std::string id = keyring.CreateLocalAccount(*password);
    keyring.Reset();
    if (id.empty()) {
        m_context.reporter.error("creating a local account failed (the key-ring file could not be written)");
        return Failed;
    }
    m_context.out << id << std::endl;
    return Success;
}
