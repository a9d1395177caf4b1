#include "KeyServerProcess.h"

#include "AvTestEnvironment.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A generous bound for a start-up that normally takes milliseconds.
constexpr std::chrono::seconds kStartLimit{ 60 };

std::string valueAfter(const std::string& text, const std::string& prefix)
{
    const std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return {};
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
        return {};
    return text.substr(at + prefix.size(), end - at - prefix.size());
}

} // namespace

KeyServerProcess::KeyServerProcess(std::string dataDir)
    : m_dataDir(std::move(dataDir))
{
}

KeyServerProcess::~KeyServerProcess()
{
    stop();
}

bool KeyServerProcess::start()
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> arguments = { AV_KEYSERVER_BINARY, "--listen", "127.0.0.1:0", "--data-dir", m_dataDir };
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (m_pid < 0) {
        ::close(pipeFds[0]);
        return false;
    }
    m_reader = std::thread([this, fd = pipeFds[0]] { readOutput(fd); });

    std::unique_lock lock(m_mutex);
    m_changed.wait_for(
        lock, kStartLimit, [this] { return m_outputClosed || m_output.find("Listening on ") != std::string::npos; });
    m_url = valueAfter(m_output, "Listening on ");
    m_caFile = valueAfter(m_output, "CA certificate: ");
    return !m_url.empty() && !m_caFile.empty();
}

void KeyServerProcess::readOutput(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        std::lock_guard lock(m_mutex);
        if (count <= 0) {
            m_outputClosed = true;
            m_changed.notify_all();
            break;
        }
        m_output.append(buffer, static_cast<std::size_t>(count));
        m_changed.notify_all();
    }
    ::close(fd);
}

bool KeyServerProcess::stop()
{
    if (m_pid <= 0)
        return false;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
    m_pid = -1;
    if (m_reader.joinable())
        m_reader.join();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string KeyServerProcess::output() const
{
    std::lock_guard lock(m_mutex);
    return m_output;
}

int KeyServerProcess::requestCount() const
{
    // One line per request: "<time> 127.0.0.1 <command> <result> <duration>".
    std::istringstream lines(output());
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        count += line.find(" 127.0.0.1 ") != std::string::npos ? 1 : 0;
    return count;
}

std::string KeyServerProcess::nextCodeFor(const std::string& address)
{
    std::error_code error;
    const std::string header = "To: <" + address + ">";
    for (const auto& entry : fs::directory_iterator(m_dataDir + "/outbox", error)) {
        const std::string name = entry.path().filename().string();
        if (m_readMails.count(name))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string mail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (mail.find(header) == std::string::npos)
            continue;
        m_readMails.insert(name);
        return codeInMail(mail);
    }
    return {};
}
