#pragma once

// The whole key server as the executable runs it: prepares the data folder
// (database "keyserver.db", tls/, outbox/), the TLS certificate (generated
// by CertificateAuthority unless one is given), the mail delivery (outbox
// files, or SMTP with --smtp-url) and the HTTPS frontend, prints where it
// listens and where the CA file is, serves until stop(), and closes the
// database cleanly. Tests run it in-process on a free port.

#include "CommandDispatcher.h"
#include "HttpFrontend.h"
#include "Mailer.h"
#include "ServerLog.h"
#include "ServerOptions.h"
#include "ServerPolicy.h"
#include "SqliteAccountStore.h"
#include "SystemClock.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>

namespace keyserver {

class KeyServerApp
{
public:
    KeyServerApp(ServerOptions options, std::ostream& out, ServerPolicy policy = ServerPolicy());
    ~KeyServerApp();

    // Everything up to listening; false (with the reason printed) on failure.
    bool start();
    // Serves until stop(); returns at once when stop() came first.
    void serve();
    // Thread-safe; may come before, during or after serve().
    void stop();

    std::string url() const;
    int port() const;
    // The CA file clients should trust; empty when --cert was given.
    const std::string& caFile() const { return m_caFile; }
    std::string outboxFolder() const { return m_options.dataDir + "/outbox"; }
    std::string databasePath() const { return m_options.dataDir + "/keyserver.db"; }

private:
    bool prepareCertificate(std::string& certificate, std::string& key, std::string& error);

    ServerOptions m_options;
    ServerPolicy m_policy;
    std::ostream& m_out;
    ServerLog m_log;
    SystemClock m_clock;
    std::string m_caFile;
    std::unique_ptr<SqliteAccountStore> m_store;
    std::unique_ptr<Mailer> m_mailer;
    std::unique_ptr<CommandDispatcher> m_dispatcher;
    std::unique_ptr<HttpFrontend> m_frontend;
    std::mutex m_stopMutex;
    bool m_stopRequested = false;
};

} // namespace keyserver
