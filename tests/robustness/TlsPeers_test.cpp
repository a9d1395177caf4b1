// TLS on both ends of the key server protocol. The client library refuses a
// server whose certificate is expired, not yet valid, made out for another
// host or signed by an authority it does not trust: the request never reaches
// the server and comes back as the transport's failure answer. The key server
// accepts TLS 1.2 and 1.3 only; a probe that can speak TLS 1.1 (shown against a
// server configured to allow it) gets no handshake with the key server.

#include "KeyServerApp.h"
#include "TestCertificates.h"

#include "AvTempHome.h"
#include "server/AVServerConnector.h"
#include "settings/AvGlobalLibSettings.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

namespace {

// A TLS server on 127.0.0.1 answering every POST with {"Result":"OK"}.
class AnsweringServer
{
public:
    AnsweringServer(const TestCertificates::Server& files, int minimumVersion)
    {
        m_server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& context) {
            SSL_CTX_set_security_level(&context, 0);
            SSL_CTX_set_cipher_list(&context, "DEFAULT:@SECLEVEL=0");
            SSL_CTX_set_min_proto_version(&context, minimumVersion);
            return SSL_CTX_use_certificate_chain_file(&context, files.certificateFile.c_str()) == 1
                && SSL_CTX_use_PrivateKey_file(&context, files.keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
        });
        m_server->Post(".*", [this](const httplib::Request&, httplib::Response& response) {
            ++m_requests;
            response.set_content(R"({"Result":"OK"})", "application/octet-stream");
        });
        m_port = m_server->bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        while (m_port > 0 && !m_server->is_running())
            std::this_thread::yield();
    }
    ~AnsweringServer()
    {
        m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    int port() const { return m_port; }
    int requests() const { return m_requests; }

private:
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<int> m_requests{ 0 };
};

// Whether a TLS handshake with exactly `version` completes. The probe allows
// every cipher and security level, so only the server can refuse.
bool handshakeCompletes(int port, int version)
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(context, version);
    SSL_CTX_set_max_proto_version(context, version);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool completed = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        completed = SSL_connect(ssl) == 1 && SSL_version(ssl) == version;
        if (completed)
            SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::close(fd);
    SSL_CTX_free(context);
    return completed;
}

class TlsPeers : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        AvGlobalLibSettings::instance().offlineMode = false;
        std::filesystem::create_directories(home() + "/tls");
        std::filesystem::create_directories(home() + "/other");
        m_certificates = std::make_unique<TestCertificates>(home() + "/tls");
        ASSERT_TRUE(m_certificates->isValid());
    }
    void TearDown() override
    {
        ::unsetenv(AVServerConnector::kServerUrlVariable);
        ::unsetenv(AVServerConnector::kCaFileVariable);
        AvTempHome::TearDown();
    }

    // Points the client at the server on `port`, trusting the test CA.
    void useServer(int port) const
    {
        ::setenv(AVServerConnector::kServerUrlVariable, ("https://127.0.0.1:" + std::to_string(port)).c_str(), 1);
        ::setenv(AVServerConnector::kCaFileVariable, m_certificates->caFile().c_str(), 1);
    }

    std::unique_ptr<TestCertificates> m_certificates;
};

struct PeerCase
{
    const char* name;
    std::vector<std::string> altNames;
    long fromDays;
    long toDays;
    bool otherAuthority;
    bool accepted;
};

const PeerCase kPeerCases[] = {
    { "valid", { "IP:127.0.0.1", "DNS:localhost" }, -1, 30, false, true },
    { "expired", { "IP:127.0.0.1", "DNS:localhost" }, -30, -1, false, false },
    { "notYetValid", { "IP:127.0.0.1", "DNS:localhost" }, 1, 30, false, false },
    { "wrongName", { "DNS:keys.elsewhere.example" }, -1, 30, false, false },
    { "otherAuthority", { "IP:127.0.0.1", "DNS:localhost" }, -1, 30, true, false },
};

class ClientCertificateCheck : public TlsPeers, public ::testing::WithParamInterface<PeerCase>
{
};

TEST_P(ClientCertificateCheck, OnlyAValidCertificateForTheHostGetsTheRequest)
{
    const PeerCase& peer = GetParam();
    TestCertificates other(home() + "/other");
    const TestCertificates& issuer = peer.otherAuthority ? other : *m_certificates;
    const TestCertificates::Server files = issuer.issue(peer.name, peer.altNames, peer.fromDays, peer.toDays);
    ASSERT_FALSE(files.certificateFile.empty());
    AnsweringServer server(files, TLS1_2_VERSION);
    ASSERT_GT(server.port(), 0);
    useServer(server.port());

    AVServerConnector connector(true);
    Json::Value request(Json::objectValue);
    request["Command"] = "ConnectivityCheck";
    const Json::Value answer = connector.SendRequest(request);

    if (peer.accepted) {
        EXPECT_EQ(answer["Result"].asString(), "OK");
        EXPECT_EQ(server.requests(), 1);
    } else {
        EXPECT_EQ(answer["Result"].asString(), "UnknownHostException");
        EXPECT_EQ(answer["Error"].asString(), "UnknownHostException");
        EXPECT_EQ(server.requests(), 0) << "the request left over an unverified connection";
    }
}

INSTANTIATE_TEST_SUITE_P(Certificates, ClientCertificateCheck, ::testing::ValuesIn(kPeerCases),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TlsPeers, ProbeCanSpeakTls11WhereAServerAllowsIt)
{
    const auto files = m_certificates->issue("old", { "IP:127.0.0.1" }, -1, 30);
    AnsweringServer permissive(files, TLS1_VERSION);
    ASSERT_GT(permissive.port(), 0);
    EXPECT_TRUE(handshakeCompletes(permissive.port(), TLS1_1_VERSION));
}

TEST_F(TlsPeers, KeyServerOffersNothingBelowTls12)
{
    keyserver::ServerOptions options;
    options.listenHost = "127.0.0.1";
    options.dataDir = home() + "/server";
    std::ostringstream output;
    keyserver::KeyServerApp app(options, output);
    ASSERT_TRUE(app.start()) << output.str();
    std::thread serving([&] { app.serve(); });

    EXPECT_FALSE(handshakeCompletes(app.port(), TLS1_VERSION));
    EXPECT_FALSE(handshakeCompletes(app.port(), TLS1_1_VERSION));
    EXPECT_TRUE(handshakeCompletes(app.port(), TLS1_2_VERSION));
    EXPECT_TRUE(handshakeCompletes(app.port(), TLS1_3_VERSION));

    app.stop();
    serving.join();
}

} // namespace
