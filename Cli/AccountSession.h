#pragma once

// AccountSession signs a command in to the key ring and out again. The
// account is the one named by --user, else by the environment variable
// AVLT_USER, else the only key-ring file in the data folder's "Keys" folder
// (its Info row "Username" names the user; the file name is the fallback).
// With several key-ring files and no name the command must be told which one.
// The password comes from PasswordSource. A server account may sign in on a
// computer that has never seen it (the key server hands out its keys), so
// for it a missing data folder is created. The key ring is reset (signed out)
// when the session ends, so no key outlives the command in memory.

#include <map>
#include <optional>
#include <string>
#include <vector>

class CliReporter;

class AccountSession
{
public:
    static constexpr const char* UserVariable = "AVLT_USER";

    AccountSession() = default;
    ~AccountSession();
    AccountSession(const AccountSession&) = delete;
    AccountSession& operator=(const AccountSession&) = delete;

    // Chooses the account, asks for its password and unlocks the key ring.
    // On failure one line goes to `reporter` and the result is false.
    bool signIn(const std::string& explicitUser, const std::string& passwordFile, CliReporter& reporter);

    const std::string& userName() const { return m_userName; }

    // $HOME/Documents/Ardentvault/ when that folder exists, else empty. Looked
    // up without the library, which would change the working directory and
    // complain on standard error about a missing folder.
    static std::string existingDataFolder();
    // The user names of the key-ring files in the data folder, sorted.
    static std::vector<std::string> accountsInDataFolder();
    // The account to use, or nothing with `error` set.
    static std::optional<std::string> chooseUser(const std::string& explicitUser, std::string& error);
    // Makes $HOME/Documents/Ardentvault/ (mode 0700) when it is missing; false with `error` set.
    static bool createDataFolder(std::string& error);
    // A one-line explanation of a key server or account result text.
    static std::string describeResult(const std::string& result);
    // The Info rows of a key-ring file (Key -> decoded Value), read without
    // the password; empty when the file cannot be read.
    static std::map<std::string, std::string> infoOfKeyRingFile(const std::string& path);

private:
    static std::string userNameOfKeyRingFile(const std::string& path);

    std::string m_userName;
    bool m_signedIn = false;
};
