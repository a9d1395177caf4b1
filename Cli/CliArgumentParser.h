#pragma once

// CliArgumentParser turns the words of an avlt command line into CliOptions:
// the command (and the sub-command of "account"), the global options that
// name the account and the password file, the command's own options and its
// paths. Options may stand before or after the command, as "--name value" or
// "--name=value"; "--" ends the options. Only options the command knows are
// accepted, so a misspelt option fails instead of being taken for a path.
// Nothing here touches the file system: paths stay exactly as written.

#include <optional>
#include <string>
#include <vector>

struct CliOptions
{
    std::string command; // "account", "vault", "unvault", "info", "shares", "shred"; empty with --help alone
    std::string subcommand; // for "account": "create-local", "register", "verify", "signin", "whoami",
                            // "change-password", "recover", "reset"
    bool help = false;

    // Global options.
    std::string user;
    std::string passwordFile;
    bool log = false;
    bool offline = false;

    // vault and unvault.
    std::string toFolder;
    bool removeSource = false;
    bool overwrite = false;

    // shred.
    int passes = 1;

    // account.
    std::string email;
    std::string firstName;
    std::string lastName;
    std::string code;
    std::string newPasswordFile;
    bool noRecovery = false;

    // shares: the replacing user list when --set was given.
    std::optional<std::vector<std::string>> setUsers;

    std::vector<std::string> paths;
};

class CliArgumentParser
{
public:
    // The words after the program name. Returns nothing and sets `error` to a
    // one-line explanation when the words do not form a command.
    static std::optional<CliOptions> parse(const std::vector<std::string>& words, std::string& error);

    // The command names avlt knows, in the order the help lists them.
    static const std::vector<std::string>& commands();
    // The sub-commands of "account", in the order the help lists them.
    static const std::vector<std::string>& accountSubcommands();

private:
    static bool isKnownCommand(const std::string& word);
    static bool commandAccepts(const std::string& command, const std::string& option);
    static bool accountAccepts(const std::string& subcommand, const std::string& option);
    static bool isKnownAccountSubcommand(const std::string& word);
    static bool validateAccount(const CliOptions& options, std::string& error);
    static bool validate(CliOptions& options, std::string& error);
    static std::vector<std::string> splitUserList(const std::string& text);
};
