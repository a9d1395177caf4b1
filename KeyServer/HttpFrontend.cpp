#include "HttpFrontend.h"

#include "JsonWire.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace keyserver {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Each request runs on one pool thread from routing to answer; the error
// handler, called later for HTTP-level failures, finds its start time here.
thread_local SteadyClock::time_point requestStart;

double millisecondsSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

Failure failureForStatus(int status)
{
    switch (status) {
    case 404:
    case 405:
        return Failure::NotFound;
    case 413:
        return Failure::RequestTooLarge;
    case 400:
        return Failure::MalformedRequest;
    default:
        return Failure::ServerError;
    }
}

std::string lastTlsError()
{
    const unsigned long code = ERR_peek_last_error();
    char text[256] = "unknown TLS error";
    if (code != 0)
        ERR_error_string_n(code, text, sizeof text);
    return text;
}

} // namespace

HttpFrontend::HttpFrontend(CommandDispatcher& dispatcher, ServerLog& log, FrontendConfig config)
    : m_dispatcher(dispatcher)
    , m_log(log)
    , m_config(std::move(config))
{
}

HttpFrontend::~HttpFrontend() = default;

std::string HttpFrontend::url() const
{
    const bool ipv6 = m_config.host.find(':') != std::string::npos;
    return "https://" + (ipv6 ? "[" + m_config.host + "]" : m_config.host) + ":" + std::to_string(m_port);
}

bool HttpFrontend::bind(std::string& error)
{
    const std::string certificate = m_config.certificateFile;
    const std::string key = m_config.keyFile;
    m_server = std::make_unique<httplib::SSLServer>([&certificate, &key](SSL_CTX& context) {
        SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
        SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
        return SSL_CTX_use_certificate_chain_file(&context, certificate.c_str()) == 1
            && SSL_CTX_use_PrivateKey_file(&context, key.c_str(), SSL_FILETYPE_PEM) == 1
            && SSL_CTX_check_private_key(&context) == 1;
    });
    if (!m_server->is_valid()) {
        error = "cannot use certificate " + certificate + " with key " + key + ": " + lastTlsError();
        m_server.reset();
        return false;
    }
    installHandlers();
    if (m_config.port == 0) {
        m_port = m_server->bind_to_any_port(m_config.host);
    } else if (m_server->bind_to_port(m_config.host, m_config.port)) {
        m_port = m_config.port;
    }
    if (m_port <= 0) {
        error = "cannot listen on " + m_config.host + ":" + std::to_string(m_config.port);
        m_server.reset();
        return false;
    }
    return true;
}

void HttpFrontend::installHandlers()
{
    // The library's default adds SO_REUSEPORT, which would let a second
    // server process bind the same port and silently take half the requests.
    m_server->set_socket_options([](socket_t socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Headers and body leave in separate TLS records; with Nagle's algorithm
    // the body would wait for the client's delayed ACK (40 ms per answer).
    m_server->set_tcp_nodelay(true);
    m_server->set_payload_max_length(m_config.maxBodyBytes);
    m_server->set_read_timeout(10, 0);
    m_server->set_write_timeout(10, 0);
    m_server->set_keep_alive_timeout(5);
    m_server->set_keep_alive_max_count(100);

    m_server->set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        requestStart = SteadyClock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->Post(kEndpoint,
        [this](const httplib::Request& request, httplib::Response& response) { handleKeyRequest(request, response); });
    // HTTP-level failures get a JSON answer too. Answers the endpoint made
    // itself (with a 4xx status) already have their body and pass through.
    m_server->set_error_handler(
        httplib::Server::HandlerWithResponse([this](const httplib::Request& request, httplib::Response& response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            const CommandResult result = CommandResult::fail(failureForStatus(response.status));
            answer(response, result);
            const bool timed = response.status != 413; // no routing (and no start time) for refused bodies
            logRequest(request.remote_addr, "-", result, timed ? millisecondsSince(requestStart) : 0.0);
            return httplib::Server::HandlerResponse::Handled;
        }));
    m_server->set_exception_handler(
        [this](const httplib::Request& request, httplib::Response& response, std::exception_ptr) {
            const CommandResult result = CommandResult::fail(Failure::ServerError);
            answer(response, result);
            logRequest(request.remote_addr, "-", result, millisecondsSince(requestStart));
        });
}

void HttpFrontend::answer(httplib::Response& response, const CommandResult& result) const
{
    response.status = result.httpStatus();
    response.set_content(JsonWire::write(result.toAnswer()), "application/json");
}

void HttpFrontend::handleKeyRequest(const httplib::Request& request, httplib::Response& response)
{
    const auto start = SteadyClock::now();
    Json::Value body;
    if (request.body.size() > m_config.maxBodyBytes) {
        const CommandResult result = CommandResult::fail(Failure::RequestTooLarge);
        answer(response, result);
        logRequest(request.remote_addr, "-", result, millisecondsSince(start));
        return;
    }
    if (!JsonWire::parse(request.body, body)) {
        const CommandResult result = CommandResult::fail(Failure::MalformedRequest);
        answer(response, result);
        logRequest(request.remote_addr, "-", result, millisecondsSince(start));
        return;
    }
    const CommandDispatcher::Outcome outcome = m_dispatcher.dispatch(body, request.remote_addr);
    answer(response, outcome.result);
    logRequest(request.remote_addr, outcome.command, outcome.result, millisecondsSince(start));
}

void HttpFrontend::logRequest(
    const std::string& clientAddress, const std::string& command, const CommandResult& result, double milliseconds)
{
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f ms", milliseconds);
    m_log.write(clientAddress + " " + command + " " + result.resultText() + " " + duration);
}

void HttpFrontend::run()
{
    if (!m_server)
        return;
    m_runEntered = true;
    if (!m_stopRequested)
        m_server->listen_after_bind();
    m_runEntered = false;
}

void HttpFrontend::stop()
{
    if (!m_server)
        return;
    m_stopRequested = true;
    // run() may be between its check and the start of the accept loop, where
    // the server's stop() would be lost: wait until the loop runs.
    while (m_runEntered && !m_server->is_running())
        std::this_thread::yield();
    m_server->stop();
}

} // namespace keyserver
