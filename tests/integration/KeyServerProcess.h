#pragma once

// Runs the real ardentvault-keyserver executable for a test: listening on
// 127.0.0.1 at a port it picks itself, with its data (database, generated
// CA and server certificate, outbox) in a folder of the test. The start is
// complete once the server has printed where it listens; its output is read
// on a thread all the time so its per-request log never blocks it. The
// process gets SIGTERM when the object goes. Codes the server mailed are read
// from its outbox.

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>

class KeyServerProcess
{
public:
    explicit KeyServerProcess(std::string dataDir);
    ~KeyServerProcess();

    KeyServerProcess(const KeyServerProcess&) = delete;
    KeyServerProcess& operator=(const KeyServerProcess&) = delete;

    // Starts the server; false (with its output in output()) when it did not come up.
    bool start();
    // Asks the server to stop (SIGTERM) and waits for it; true for a clean exit.
    bool stop();

    const std::string& url() const { return m_url; }
    const std::string& caFile() const { return m_caFile; }
    const std::string& dataDir() const { return m_dataDir; }
    std::string output() const;
    // How many requests the server has logged so far.
    int requestCount() const;

    // The code of a mail to `address` that no earlier call returned; empty when none came.
    std::string nextCodeFor(const std::string& address);

private:
    void readOutput(int fd);

    std::string m_dataDir;
    pid_t m_pid = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output;
    bool m_outputClosed = false;
    std::string m_url;
    std::string m_caFile;
    std::set<std::string> m_readMails;
};
