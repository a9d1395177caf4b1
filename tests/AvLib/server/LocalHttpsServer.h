#pragma once

// A stand-in key server for the client tests: cpp-httplib over TLS on
// 127.0.0.1 (a free port), with a CA and server certificate made by the key
// server's own certificate authority code in a folder the test owns. Each
// request to any path is recorded and answered by the test's handler.
// Listening starts before the constructor returns, so no waiting is needed.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class SSLServer;
}

class LocalHttpsServer
{
public:
    struct Request
    {
        std::string method;
        std::string path;
        std::string contentType;
        std::string transferEncoding;
        std::string body;
    };
    struct Answer
    {
        int status = 200;
        std::string body;
    };
    using Handler = std::function<Answer(const Request&)>;

    // Certificates go to `folder`/tls.
    LocalHttpsServer(const std::string& folder, Handler handler);
    ~LocalHttpsServer();

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    // "https://127.0.0.1:<port>"
    std::string url() const;
    // The CA that signed the server certificate.
    const std::string& caFile() const { return m_caFile; }

    std::vector<Request> requests() const;
    void setHandler(Handler handler);

private:
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    std::atomic<bool> m_listenReturned{ false };
    int m_port = 0;
    std::string m_caFile;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    Handler m_handler;
};

// Makes a CA in `folder` and returns its certificate file (a CA the client
// does not know).
std::string makeUnrelatedCa(const std::string& folder);
