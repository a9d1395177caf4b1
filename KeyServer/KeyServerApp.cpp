#include "KeyServerApp.h"

#include "CertificateAuthority.h"
#include "OutboxMailer.h"
#include "SmtpMailer.h"

#include <filesystem>
#include <system_error>

namespace keyserver {

KeyServerApp::KeyServerApp(ServerOptions options, std::ostream& out, ServerPolicy policy)
    : m_options(std::move(options))
    , m_policy(policy)
    , m_out(out)
    , m_log(out)
{
}

KeyServerApp::~KeyServerApp()
{
    stop();
}

std::string KeyServerApp::url() const
{
    return m_frontend ? m_frontend->url() : std::string();
}

int KeyServerApp::port() const
{
    return m_frontend ? m_frontend->port() : 0;
}

bool KeyServerApp::prepareCertificate(std::string& certificate, std::string& key, std::string& error)
{
    if (!m_options.certificateFile.empty()) {
        certificate = m_options.certificateFile;
        key = m_options.keyFile;
        return true;
    }
    CertificateAuthority authority(m_options.dataDir + "/tls");
    if (!authority.ensureServerCertificate(m_options.listenHost, error))
        return false;
    certificate = authority.serverCertificatePath();
    key = authority.serverKeyPath();
    m_caFile = authority.caCertificatePath();
    return true;
}

bool KeyServerApp::start()
{
    // A folder made here is for this user only; an existing one keeps its mode.
    std::error_code ignored;
    if (std::filesystem::create_directories(m_options.dataDir, ignored))
        std::filesystem::permissions(
            m_options.dataDir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, ignored);

    std::string error;
    std::string certificate;
    std::string key;
    if (!prepareCertificate(certificate, key, error)) {
        m_log.write("cannot start: " + error);
        return false;
    }
    m_store = SqliteAccountStore::open(databasePath(), error);
    if (!m_store) {
        m_log.write("cannot start: " + error);
        return false;
    }
    if (m_options.smtpUrl.empty())
        m_mailer = std::make_unique<OutboxMailer>(outboxFolder(), m_options.mailFrom, &m_log);
    else
        m_mailer = std::make_unique<SmtpMailer>(m_options.smtpUrl, m_options.mailFrom, &m_log);
    m_dispatcher = std::make_unique<CommandDispatcher>(*m_store, *m_mailer, m_clock, m_policy);

    FrontendConfig config;
    config.host = m_options.listenHost;
    config.port = m_options.listenPort;
    config.certificateFile = certificate;
    config.keyFile = key;
    config.maxBodyBytes = m_policy.maxBodyBytes;
    auto frontend = std::make_unique<HttpFrontend>(*m_dispatcher, m_log, config);
    if (!frontend->bind(error)) {
        m_log.write("cannot start: " + error);
        return false;
    }
    {
        std::lock_guard lock(m_stopMutex);
        m_frontend = std::move(frontend);
    }
    if (!m_caFile.empty())
        m_out << "CA certificate: " << m_caFile << "\n";
    m_out << "Mail: "
          << (m_options.smtpUrl.empty() ? outboxFolder() + "/" : SmtpMailer::withoutCredentials(m_options.smtpUrl))
          << "\n";
    m_out << "Listening on " << m_frontend->url() << "\n";
    m_out.flush();
    return true;
}

void KeyServerApp::serve()
{
    {
        std::lock_guard lock(m_stopMutex);
        if (m_stopRequested || !m_frontend)
            return;
    }
    m_frontend->run();
    m_log.write("stopped");
}

void KeyServerApp::stop()
{
    std::lock_guard lock(m_stopMutex);
    m_stopRequested = true;
    if (m_frontend)
        m_frontend->stop();
}

} // namespace keyserver
