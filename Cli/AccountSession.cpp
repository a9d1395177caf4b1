#include "AccountSession.h"

#include "CliReporter.h"
#include "PasswordSource.h"

#include "keyring/AvKeyring.h"
#include "keyring/AvSqliteDb.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKeyRingExtension = ".avltkey";

} // namespace

AccountSession::~AccountSession()
{
    if (m_signedIn)
        AvKeyring::instance().Reset();
}

std::string AccountSession::existingDataFolder()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    const std::string folder = std::string(home) + "/Documents/Ardentvault/";
    std::error_code error;
    return fs::is_directory(folder, error) ? folder : std::string();
}

std::map<std::string, std::string> AccountSession::infoOfKeyRingFile(const std::string& path)
{
    std::map<std::string, std::string> rows;
    AvSqliteDb db = AvSqliteDb::openReadOnly(path);
    if (!db)
        return rows;
    AvSqliteStatement select = db.prepare("SELECT Key, Value FROM Info");
    if (!select)
        return rows;
    while (select.step() == SQLITE_ROW)
        rows[select.columnText(0)] = base64Decode(select.columnText(1));
    return rows;
}

std::string AccountSession::userNameOfKeyRingFile(const std::string& path)
{
    const std::string name = infoOfKeyRingFile(path)["Username"];
    return name.empty() ? fs::path(path).stem().string() : name;
}

std::vector<std::string> AccountSession::accountsInDataFolder()
{
    std::vector<std::string> names;
    const std::string folder = existingDataFolder();
    if (folder.empty())
        return names;
    std::error_code error;
    for (fs::directory_iterator it(folder + "Keys", error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (file.size() > kKeyRingExtension.size() && file.ends_with(kKeyRingExtension) && it->is_regular_file(error))
            names.push_back(userNameOfKeyRingFile(it->path().string()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> AccountSession::chooseUser(const std::string& explicitUser, std::string& error)
{
    if (!trimSpaces(explicitUser).empty())
        return trimSpaces(explicitUser);
    if (const char* fromEnvironment = std::getenv(UserVariable); fromEnvironment && *fromEnvironment)
        return trimSpaces(fromEnvironment);
    const std::vector<std::string> accounts = accountsInDataFolder();
    if (accounts.size() == 1)
        return accounts.front();
    if (accounts.empty()) {
        error = "no account found in the data folder; create one with \"avlt account create-local\"";
        return std::nullopt;
    }
    std::string list;
    for (const auto& name : accounts)
        list += (list.empty() ? "" : ", ") + name;
    error = "several accounts (" + list + "): choose one with --user NAME or AVLT_USER";
    return std::nullopt;
}

bool AccountSession::createDataFolder(std::string& error)
{
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        error = "HOME is not set; the data folder lives in $HOME/Documents/Ardentvault";
        return false;
    }
    // The library makes the data folder itself (one level, mode 0700), but
    // not the Documents folder it lives in.
    const fs::path data = fs::path(home) / "Documents" / "Ardentvault";
    std::error_code ignored;
    fs::create_directories(data.parent_path(), ignored);
    if (!fs::is_directory(data, ignored) && ::mkdir(data.c_str(), 0700) != 0) {
        error = "cannot create the data folder " + data.string();
        return false;
    }
    return true;
}

std::string AccountSession::describeResult(const std::string& result)
{
    static const std::map<std::string, std::string> texts = {
        { "Denied", "refused (wrong password, wrong code or unknown account)" },
        { "CheckEmailValCode",
            "the e-mail address is not verified yet; complete it with \"avlt account verify\" and the mailed code" },
        { "CompleteNewAccountData", "the account's registration is incomplete" },
        { "UnknownHostException",
            "the key server cannot be reached (check the network, ARDENTVAULT_SERVER_URL and ARDENTVAULT_CA_FILE)" },
        { "Offlinemode", "not possible in offline mode (this computer has no key-ring file for the account)" },
        { "Duplicate", "an account for this e-mail address already exists" },
        { "Unavailable", "password recovery is not available for this account" },
        { "Error", "the key server reported an error, or could not be reached" },
    };
    const auto found = texts.find(result);
    return found != texts.end() ? found->second + " (" + result + ")" : "the key server answered \"" + result + "\"";
}

bool AccountSession::signIn(const std::string& explicitUser, const std::string& passwordFile, CliReporter& reporter)
{
    std::string error;
    const auto user = chooseUser(explicitUser, error);
    if (!user) {
        reporter.error(error);
        return false;
    }
    if (existingDataFolder().empty()) {
        if (isNumericId(*user)) {
            reporter.error("cannot sign in as " + *user + ": there is no data folder (no account on this computer)");
            return false;
        }
        if (!createDataFolder(error)) {
            reporter.error(error);
            return false;
        }
    }
    const auto password = PasswordSource(passwordFile).obtain("Password for " + *user, false, error);
    if (!password) {
        reporter.error(error);
        return false;
    }
    AvKeyring& keyring = AvKeyring::instance();
    const std::string result = keyring.UnlockWithPassword(*user, *password);
    m_signedIn = true;
    if (result != "OK") {
        reporter.error("cannot sign in as " + *user + ": " + describeResult(result));
        return false;
    }
    m_userName = keyring.userName();
    return true;
}
