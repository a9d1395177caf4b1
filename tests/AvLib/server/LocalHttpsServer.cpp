#include "LocalHttpsServer.h"

#include "CertificateAuthority.h"

#include <httplib.h>

#include <filesystem>

LocalHttpsServer::LocalHttpsServer(const std::string& folder, Handler handler)
    : m_handler(std::move(handler))
{
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    keyserver::CertificateAuthority authority(folder + "/tls");
    std::string error;
    if (!authority.ensureServerCertificate("127.0.0.1", error))
        return;
    m_caFile = authority.caCertificatePath();
    m_server = std::make_unique<httplib::SSLServer>(
        authority.serverCertificatePath().c_str(), authority.serverKeyPath().c_str());
    if (!m_server->is_valid())
        return;

    auto serve = [this](const httplib::Request& request, httplib::Response& response) {
        Request seen{ request.method, request.path, request.get_header_value("Content-Type"),
            request.get_header_value("Content-Transfer-Encoding"), request.body };
        Handler handler;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(seen);
            handler = m_handler;
        }
        const Answer answer = handler ? handler(seen) : Answer{ 404, "" };
        response.status = answer.status;
        response.set_content(answer.body, "application/json");
    };
    m_server->Post(".*", serve);
    m_server->Get(".*", serve);

    // Bound and listening before the thread starts: connections queue at once.
    const int port = m_server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return;
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenReturned = true;
    });
    // stop() only works once the accept loop runs; wait for it to start.
    while (!m_server->is_running() && !m_listenReturned)
        std::this_thread::yield();
    if (m_server->is_running())
        m_port = port;
}

LocalHttpsServer::~LocalHttpsServer()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string LocalHttpsServer::url() const
{
    return "https://127.0.0.1:" + std::to_string(m_port);
}

std::vector<LocalHttpsServer::Request> LocalHttpsServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void LocalHttpsServer::setHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

std::string makeUnrelatedCa(const std::string& folder)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
    keyserver::CertificateAuthority authority(folder);
    std::string error;
    if (!authority.ensureServerCertificate("127.0.0.1", error))
        return {};
    return authority.caCertificatePath();
}
