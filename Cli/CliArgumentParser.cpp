#include "CliArgumentParser.h"

#include "util/AvStrings.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

namespace {

// Options that take a value, whichever command they belong to.
const std::set<std::string> kValueOptions = { "--user", "--password-file", "--to", "--passes", "--set", "--email",
    "--first", "--last", "--code", "--new-password-file" };
const std::set<std::string> kGlobalOptions = { "--user", "--password-file", "--log", "--offline", "--help" };

bool parsePasses(const std::string& text, int& passes)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < 0)
        return false;
    passes = value;
    return true;
}

} // namespace

const std::vector<std::string>& CliArgumentParser::commands()
{
    static const std::vector<std::string> names = { "account", "vault", "unvault", "info", "shares", "shred" };
    return names;
}

const std::vector<std::string>& CliArgumentParser::accountSubcommands()
{
    static const std::vector<std::string> names = { "create-local", "register", "verify", "signin", "whoami",
        "change-password", "recover", "reset" };
    return names;
}

bool CliArgumentParser::accountAccepts(const std::string& subcommand, const std::string& option)
{
    if (kGlobalOptions.count(option))
        return true;
    static const std::map<std::string, std::set<std::string>> accepted = {
        { "register", { "--email", "--first", "--last", "--no-recovery", "--new-password-file" } },
        { "verify", { "--email", "--code", "--no-recovery", "--new-password-file" } },
        { "change-password", { "--no-recovery", "--new-password-file" } },
        { "recover", { "--email", "--code", "--new-password-file" } },
        { "reset", { "--email", "--code", "--no-recovery", "--new-password-file" } },
    };
    const auto found = accepted.find(subcommand);
    return found != accepted.end() && found->second.count(option) != 0;
}

bool CliArgumentParser::isKnownAccountSubcommand(const std::string& word)
{
    const auto& names = accountSubcommands();
    return std::find(names.begin(), names.end(), word) != names.end();
}

bool CliArgumentParser::isKnownCommand(const std::string& word)
{
    const auto& names = commands();
    return std::find(names.begin(), names.end(), word) != names.end();
}

bool CliArgumentParser::commandAccepts(const std::string& command, const std::string& option)
{
    if (kGlobalOptions.count(option))
        return true;
    if (command == "vault" || command == "unvault")
        return option == "--to" || option == "--remove-source" || option == "--overwrite";
    if (command == "shares")
        return option == "--set";
    if (command == "shred")
        return option == "--passes";
    if (command == "account")
        return option == "--email" || option == "--first" || option == "--last" || option == "--code"
            || option == "--new-password-file" || option == "--no-recovery";
    return false;
}

std::vector<std::string> CliArgumentParser::splitUserList(const std::string& text)
{
    std::vector<std::string> users;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        const auto comma = std::min(text.find(',', start), text.size());
        // Share names are normalized user names: found in the key ring, the
        // public key cache and on the key server whatever the case typed.
        const std::string name = normalizeUserName(std::string_view(text).substr(start, comma - start));
        if (!name.empty())
            users.push_back(name);
        start = comma + 1;
    }
    return users;
}

std::optional<CliOptions> CliArgumentParser::parse(const std::vector<std::string>& words, std::string& error)
{
    CliOptions options;
    std::vector<std::pair<std::string, std::string>> seen; // options met before the command was known
    bool optionsEnded = false;

    auto apply = [&](const std::string& name, const std::string& value) -> bool {
        if (name == "--help")
            options.help = true;
        else if (name == "--log")
            options.log = true;
        else if (name == "--offline")
            options.offline = true;
        else if (name == "--user")
            options.user = value;
        else if (name == "--password-file")
            options.passwordFile = value;
        else if (name == "--to")
            options.toFolder = value;
        else if (name == "--remove-source")
            options.removeSource = true;
        else if (name == "--overwrite")
            options.overwrite = true;
        else if (name == "--set")
            options.setUsers = splitUserList(value);
        else if (name == "--email")
            options.email = value;
        else if (name == "--first")
            options.firstName = value;
        else if (name == "--last")
            options.lastName = value;
        else if (name == "--code")
            options.code = value;
        else if (name == "--new-password-file")
            options.newPasswordFile = value;
        else if (name == "--no-recovery")
            options.noRecovery = true;
        else if (name == "--passes") {
            if (!parsePasses(value, options.passes)) {
                error = "--passes needs a number of passes (0 or more), not \"" + value + "\"";
                return false;
            }
        } else {
            error = "unknown option " + name;
            return false;
        }
        return true;
    };

    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (word == "-h" || word.rfind("--", 0) == 0)) {
            std::string name = word == "-h" ? "--help" : word;
            std::string value;
            bool hasValue = false;
            if (const auto equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
                hasValue = true;
            }
            if (kValueOptions.count(name)) {
                if (!hasValue) {
                    if (i + 1 >= words.size()) {
                        error = name + " needs a value";
                        return std::nullopt;
                    }
                    value = words[++i];
                }
            } else if (hasValue) {
                error = name + " takes no value";
                return std::nullopt;
            }
            if (kValueOptions.count(name) && name != "--set" && value.empty()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            seen.emplace_back(name, value);
            if (!apply(name, value))
                return std::nullopt;
            continue;
        }
        if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            error = "unknown option " + word;
            return std::nullopt;
        }
        if (options.command.empty()) {
            if (!isKnownCommand(word)) {
                error = "unknown command \"" + word + "\"";
                return std::nullopt;
            }
            options.command = word;
        } else if (options.command == "account" && options.subcommand.empty()) {
            options.subcommand = word;
        } else {
            options.paths.push_back(word);
        }
    }

    for (const auto& [name, value] : seen) {
        if (!options.command.empty() && !commandAccepts(options.command, name)) {
            error = "avlt " + options.command + " has no option " + name;
            return std::nullopt;
        }
        if (options.command.empty() && !kGlobalOptions.count(name)) {
            error = name + " needs a command";
            return std::nullopt;
        }
        if (options.command == "account" && !options.help && isKnownAccountSubcommand(options.subcommand)
            && !accountAccepts(options.subcommand, name)) {
            error = "avlt account " + options.subcommand + " has no option " + name;
            return std::nullopt;
        }
    }
    if (!validate(options, error))
        return std::nullopt;
    return options;
}

bool CliArgumentParser::validateAccount(const CliOptions& options, std::string& error)
{
    if (!isKnownAccountSubcommand(options.subcommand)) {
        std::string names;
        for (const auto& name : accountSubcommands())
            names += (names.empty() ? "" : ", ") + name;
        error = options.subcommand.empty() ? "avlt account needs a sub-command (" + names + ")"
                                           : "unknown account sub-command \"" + options.subcommand + "\"";
        return false;
    }
    const std::string& sub = options.subcommand;
    if (!options.paths.empty()) {
        error = "avlt account " + sub + " takes no further arguments";
        return false;
    }
    const bool needsEmail = sub == "register" || sub == "verify" || sub == "recover" || sub == "reset";
    if (needsEmail && trimSpaces(options.email).empty()) {
        error = "avlt account " + sub + " needs --email ADDRESS";
        return false;
    }
    if (sub == "register" && (trimSpaces(options.firstName).empty() || trimSpaces(options.lastName).empty())) {
        error = "avlt account register needs --first NAME and --last NAME";
        return false;
    }
    if (sub == "verify" && trimSpaces(options.code).empty()) {
        error = "avlt account verify needs --code CODE (from the mail)";
        return false;
    }
    return true;
}

bool CliArgumentParser::validate(CliOptions& options, std::string& error)
{
    if (options.help)
        return true;
    if (options.command.empty()) {
        error = "no command given";
        return false;
    }
    if (options.command == "account")
        return validateAccount(options, error);
    if (options.paths.empty()) {
        error = "avlt " + options.command + " needs at least one path";
        return false;
    }
    if (options.command == "shares") {
        if (options.paths.size() != 1) {
            error = "avlt shares takes exactly one file";
            return false;
        }
        if (options.setUsers && options.setUsers->empty()) {
            error = "--set needs at least one user name";
            return false;
        }
    }
    return true;
}
