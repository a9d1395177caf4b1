#pragma once

// PasswordSource finds the password of a command: the first line of the file
// named by --password-file, else the environment variable AVLT_PASSWORD, else
// a prompt on the terminal (/dev/tty) with echo switched off. A new password
// (account commands) comes the same way from --new-password-file and
// AVLT_NEW_PASSWORD. Passwords stay
// in SecureString so that their bytes are wiped when released. A prompt that
// is interrupted restores the terminal's echo before the program stops.

#include "crypto/SecureString.h"

#include <optional>
#include <string>

class PasswordSource
{
public:
    static constexpr const char* EnvironmentVariable = "AVLT_PASSWORD";
    static constexpr const char* NewPasswordVariable = "AVLT_NEW_PASSWORD";

    // `environmentVariable` is EnvironmentVariable or NewPasswordVariable.
    explicit PasswordSource(std::string passwordFile, const char* environmentVariable = EnvironmentVariable)
        : m_passwordFile(std::move(passwordFile))
        , m_environmentVariable(environmentVariable)
    {
    }

    // The password, or nothing with `error` set. With `confirm` a terminal
    // prompt asks twice and fails when the answers differ (new passwords).
    std::optional<SecureString> obtain(const std::string& prompt, bool confirm, std::string& error) const;

    // The first line of a file, without its line ending.
    static std::optional<SecureString> readFirstLine(const std::string& path, std::string& error);
    // Asks on the terminal without echo; nothing when there is no terminal.
    static std::optional<SecureString> promptOnTerminal(const std::string& prompt, std::string& error);

private:
    std::string m_passwordFile;
    const char* m_environmentVariable;
};
