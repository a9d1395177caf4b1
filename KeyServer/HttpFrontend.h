#pragma once

// The HTTPS side of the key server: TLS 1.2 or newer on one address, one
// endpoint (POST "/keyrequest.aspx") taking one JSON object and answering
// one JSON object with a string "Result". Everything that goes wrong on the
// HTTP level (oversized body, wrong path or method, body that is not JSON)
// is answered with a JSON failure too. One log line per request: client
// address, command, result and duration. The command logic is the
// dispatcher's; this class knows nothing of accounts.

#include "CommandDispatcher.h"
#include "ServerLog.h"

#include <atomic>
#include <memory>
#include <string>

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

namespace keyserver {

struct FrontendConfig
{
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    std::string certificateFile; // PEM, the server certificate first, then its chain
    std::string keyFile; // PEM
    std::size_t maxBodyBytes = 1024 * 1024;
};

class HttpFrontend
{
public:
    static constexpr const char* kEndpoint = "/keyrequest.aspx";

    HttpFrontend(CommandDispatcher& dispatcher, ServerLog& log, FrontendConfig config);
    ~HttpFrontend();

    HttpFrontend(const HttpFrontend&) = delete;
    HttpFrontend& operator=(const HttpFrontend&) = delete;

    // Loads certificate and key and binds the address; false with a reason.
    bool bind(std::string& error);
    // Serves until stop(); returns at once when stop() came first.
    void run();
    // Thread-safe; running requests are finished, then run() returns.
    void stop();

    int port() const { return m_port; }
    // "https://host:port", the base the client's server URL setting takes.
    std::string url() const;

private:
    void installHandlers();
    void handleKeyRequest(const httplib::Request& request, httplib::Response& response);
    void answer(httplib::Response& response, const CommandResult& result) const;
    void logRequest(
        const std::string& clientAddress, const std::string& command, const CommandResult& result, double milliseconds);

    CommandDispatcher& m_dispatcher;
    ServerLog& m_log;
    FrontendConfig m_config;
    std::unique_ptr<httplib::SSLServer> m_server;
    int m_port = 0;
    // The server's own stop() is ignored until its accept loop runs; these
    // let a stop that arrives just before that still end run().
    std::atomic<bool> m_stopRequested{ false };
    std::atomic<bool> m_runEntered{ false };
};

} // namespace keyserver
