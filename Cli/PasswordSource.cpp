#include "PasswordSource.h"

#include "files/FileHandle.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal state to restore when a signal interrupts the prompt. Only
// the prompt's own signal handler reads it.
struct termios g_savedTerminal;
volatile sig_atomic_t g_terminalFd = -1;

extern "C" void restoreTerminalAndDie(int signalNumber)
{
    if (g_terminalFd >= 0)
        ::tcsetattr(g_terminalFd, TCSAFLUSH, &g_savedTerminal);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// Reads bytes up to a line end or the end of the input.
bool readLine(int fd, SecureString& line)
{
    char byte = 0;
    for (;;) {
        const ssize_t count = ::read(fd, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0 || byte == '\n')
            break;
        line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    byte = 0;
    return true;
}

// Echo off while it lives; the signals that end a prompt restore it first.
class EchoOff
{
public:
    explicit EchoOff(int fd)
        : m_fd(fd)
    {
        if (::tcgetattr(fd, &g_savedTerminal) != 0)
            return;
        struct termios quiet = g_savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        g_terminalFd = fd;
        for (int signalNumber : kSignals)
            m_previous[index(signalNumber)] = ::signal(signalNumber, restoreTerminalAndDie);
        m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (m_active)
            ::tcsetattr(m_fd, TCSAFLUSH, &g_savedTerminal);
        g_terminalFd = -1;
        for (int signalNumber : kSignals)
            ::signal(signalNumber, m_previous[index(signalNumber)]);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
    static int index(int signalNumber)
    {
        for (int i = 0; i < 4; ++i)
            if (kSignals[i] == signalNumber)
                return i;
        return 0;
    }

    int m_fd;
    bool m_active = false;
    sighandler_t m_previous[4] = {};
};

} // namespace

std::optional<SecureString> PasswordSource::readFirstLine(const std::string& path, std::string& error)
{
    FileHandle file = FileHandle::open(path, O_RDONLY);
    if (file.fd() < 0) {
        error = "cannot read the password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    SecureString line;
    if (!readLine(file.fd(), line)) {
        error = "cannot read the password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return line;
}

std::optional<SecureString> PasswordSource::promptOnTerminal(const std::string& prompt, std::string& error)
{
    FileHandle terminal = FileHandle::open("/dev/tty", O_RDWR | O_NOCTTY);
    if (terminal.fd() < 0 || !::isatty(terminal.fd())) {
        error = "no password: give --password-file FILE or set AVLT_PASSWORD (there is no terminal to ask on)";
        return std::nullopt;
    }
    const std::string text = prompt + ": ";
    if (::write(terminal.fd(), text.data(), text.size()) < 0) {
        error = "cannot write to the terminal";
        return std::nullopt;
    }
    SecureString line;
    bool ok = false;
    {
        EchoOff quiet(terminal.fd());
        ok = readLine(terminal.fd(), line);
    }
    if (!ok) {
        error = "cannot read the password from the terminal";
        return std::nullopt;
    }
    return line;
}

std::optional<SecureString> PasswordSource::obtain(const std::string& prompt, bool confirm, std::string& error) const
{
    std::optional<SecureString> password;
    if (!m_passwordFile.empty()) {
        password = readFirstLine(m_passwordFile, error);
    } else if (const char* fromEnvironment = std::getenv(m_environmentVariable)) {
        password = SecureString(fromEnvironment);
    } else {
        password = promptOnTerminal(prompt, error);
        if (!password && std::string_view(m_environmentVariable) == NewPasswordVariable
            && error.rfind("no password:", 0) == 0)
            error = "no new password: give --new-password-file FILE or set AVLT_NEW_PASSWORD (there is no terminal "
                    "to ask on)";
        if (password && confirm) {
            const auto again = promptOnTerminal("Repeat the password", error);
            if (!again)
                return std::nullopt;
            if (*again != *password) {
                error = "the two passwords differ";
                return std::nullopt;
            }
        }
    }
    if (password && password->empty()) {
        error = "the password is empty";
        return std::nullopt;
    }
    return password;
}
