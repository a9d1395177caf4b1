// The executable as an operator starts it: it prints where it listens and
// where its CA is, serves, and stops cleanly on SIGTERM and SIGINT.

#include "AvTempHome.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process whose standard output and error come through one pipe.
class ServerProcess
{
public:
    explicit ServerProcess(const std::vector<std::string>& arguments)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            std::vector<char*> argv{ const_cast<char*>(KEYSERVER_BINARY) };
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(KEYSERVER_BINARY, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_output = fds[0];
    }
    ~ServerProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_output >= 0)
            ::close(m_output);
    }

    // Reads output until a line containing `text` arrives (or 30 s pass); returns that line.
    std::string waitForLine(const std::string& text)
    {
        while (true) {
            const auto end = m_buffer.find('\n', m_scanned);
            if (end != std::string::npos) {
                const std::string line = m_buffer.substr(m_scanned, end - m_scanned);
                m_scanned = end + 1;
                if (line.find(text) != std::string::npos)
                    return line;
                continue;
            }
            if (!readMore())
                return {};
        }
    }

    // Sends the signal, collects the rest of the output and returns the exit status.
    int stop(int signal)
    {
        ::kill(m_pid, signal);
        while (readMore()) { }
        return waitForExit();
    }

    int waitForExit()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return status;
    }

    const std::string& output() const { return m_buffer; }

private:
    bool readMore()
    {
        pollfd waiting{ m_output, POLLIN, 0 };
        if (::poll(&waiting, 1, 30000) != 1)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(m_output, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_output = -1;
    bool m_reaped = false;
    std::string m_buffer;
    std::size_t m_scanned = 0;
};

class KeyServerProcess : public AvTempHome
{
};

TEST_F(KeyServerProcess, ServesAndStopsCleanlyOnEachStopSignal)
{
    for (int signal : { SIGTERM, SIGINT }) {
        const std::string dataDir = home() + "/data";
        ServerProcess server({ "--listen", "127.0.0.1:0", "--data-dir", dataDir });
        const std::string caLine = server.waitForLine("CA certificate: ");
        EXPECT_EQ(caLine, "CA certificate: " + dataDir + "/tls/ca.pem");
        const std::string listening = server.waitForLine("Listening on https://127.0.0.1:");
        ASSERT_FALSE(listening.empty()) << server.output();
        const int port = std::stoi(listening.substr(listening.rfind(':') + 1));

        httplib::SSLClient client("127.0.0.1", port);
        client.set_ca_cert_path((dataDir + "/tls/ca.pem").c_str());
        client.enable_server_certificate_verification(true);
        auto answer = client.Post(
            "/keyrequest.aspx", "{\"Command\":\"ConnectivityCheck\",\"Version\":\"t\"}\n", "application/octet-stream");
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->body, "{\"Result\":\"OK\"}\n");
        auto denied = client.Post("/keyrequest.aspx",
            "{\"Command\":\"Authenticate3\",\"User\":\"100000000\",\"Password\":"
            "\"U2VjcmV0UGFzc3dvcmQxMg==\"}",
            "application/octet-stream");
        ASSERT_TRUE(denied);

        const int status = server.stop(signal);
        EXPECT_TRUE(WIFEXITED(status)) << server.output();
        EXPECT_EQ(WEXITSTATUS(status), 0) << server.output();
        EXPECT_NE(server.output().find("ConnectivityCheck OK"), std::string::npos) << server.output();
        EXPECT_NE(server.output().find("Authenticate3 Denied"), std::string::npos);
        EXPECT_EQ(server.output().find("U2VjcmV0UGFzc3dvcmQxMg=="), std::string::npos);
        EXPECT_NE(server.output().find(" stopped"), std::string::npos);
    }
}

TEST_F(KeyServerProcess, BadCommandLineShowsUsage)
{
    ServerProcess server({ "--listen", "nowhere" });
    EXPECT_FALSE(server.waitForLine("usage: ardentvault-keyserver").empty());
    const int status = server.waitForExit();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST_F(KeyServerProcess, APortInUseIsReportedNotServed)
{
    const std::string dataDir = home() + "/data";
    ServerProcess first({ "--listen", "127.0.0.1:0", "--data-dir", dataDir });
    const std::string listening = first.waitForLine("Listening on ");
    ASSERT_FALSE(listening.empty());
    const std::string port = listening.substr(listening.rfind(':') + 1);

    ServerProcess second({ "--listen", "127.0.0.1:" + port, "--data-dir", home() + "/second" });
    EXPECT_FALSE(second.waitForLine("cannot start").empty()) << second.output();
    const int status = second.waitForExit();
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(WEXITSTATUS(first.stop(SIGTERM)), 0);
}

} // namespace
