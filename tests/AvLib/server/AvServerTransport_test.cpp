// The request transport over real TLS on the loopback interface: what comes
// back for every kind of failure, which log lines tell them apart, and that
// nothing reaches a server the client does not trust.

#include "LocalHttpsServer.h"
#include "ServerClientTest.h"

#include "settings/AvGlobalLibSettings.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

constexpr const char* kParseFailDomain = "AvServerconnectors - Parse fail: NSURLErrorDomain";
constexpr const char* kConnectionFailed = "AvServerconnector - Connection failed";
constexpr const char* kNotResult = "AvServerconnector - SendRequest.POST.Failed\n";
constexpr const char* kEmptyAnswer = "AvServerconnector - SendRequest.POST.Failed2";
constexpr const char* kOfflineLine = "AvServerconnector - ServerConnector.SendRequest.Offlinemode";

// A TCP socket on 127.0.0.1 that is bound (so the port is ours) and either
// listening or not. Without listening, connections are refused at once.
class LoopbackSocket
{
public:
    explicit LoopbackSocket(bool listening)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        if (listening && ::listen(m_fd, 4) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackSocket()
    {
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int port() const { return m_port; }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(m_port); }

    // Accepts one connection on a thread, keeps the first bytes it sends and
    // hangs up.
    void captureFirstBytes()
    {
        m_reader = std::thread([this] {
            pollfd waiting{ m_fd, POLLIN, 0 };
            if (::poll(&waiting, 1, 10000) != 1)
                return;
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            pollfd reading{ client, POLLIN, 0 };
            char buffer[4096];
            if (::poll(&reading, 1, 10000) == 1) {
                const ssize_t count = ::recv(client, buffer, sizeof buffer, 0);
                if (count > 0)
                    m_firstBytes.assign(buffer, static_cast<std::size_t>(count));
            }
            ::close(client);
        });
    }
    // Whether a connection waits to be accepted.
    bool hasPendingConnection() const
    {
        pollfd waiting{ m_fd, POLLIN, 0 };
        return ::poll(&waiting, 1, 0) == 1;
    }
    std::string firstBytes()
    {
        if (m_reader.joinable())
            m_reader.join();
        return m_firstBytes;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::thread m_reader;
    std::string m_firstBytes;
};

enum class Peer { Offline, RefusedPort, Answering, UntrustedCertificate, CertificateOfAnotherCa };

struct TransportCase
{
    const char* name;
    Peer peer;
    int status; // of the answer, for Peer::Answering
    const char* body; // of the answer, for Peer::Answering
    bool reportConnectionFailure;
    bool suppressFailureReport;
    const char* result; // expected "Result"
    const char* error; // expected "Error" (nullptr: an answer passed through)
    std::vector<const char*> logged;
    std::vector<const char*> notLogged;
    std::size_t requestsSeen;
};

void PrintTo(const TransportCase& row, std::ostream* out)
{
    *out << row.name;
}

const TransportCase kTransportCases[] = {
    { "OfflineReporting", Peer::Offline, 0, "", true, false, "Error", "Offlinemode", {}, { kOfflineLine }, 0 },
    { "OfflineQuiet", Peer::Offline, 0, "", false, false, "Error", "Offlinemode", { kOfflineLine }, {}, 0 },
    { "OfflineSuppressed", Peer::Offline, 0, "", true, true, "Error", "Offlinemode", { kOfflineLine }, {}, 0 },
    { "UnreachableReporting", Peer::RefusedPort, 0, "", true, false, "UnknownHostException", "UnknownHostException",
        { kParseFailDomain, kConnectionFailed }, {}, 0 },
    { "UnreachableSuppressed", Peer::RefusedPort, 0, "", true, true, "Error", "Error", { kParseFailDomain },
        { kConnectionFailed }, 0 },
    { "UnreachableQuiet", Peer::RefusedPort, 0, "", false, false, "Error", "Error", { kParseFailDomain },
        { kConnectionFailed }, 0 },
    { "EmptyObject", Peer::Answering, 200, "{}", true, false, "UnknownHostException", "UnknownHostException",
        { kNotResult, kConnectionFailed }, {}, 1 },
    { "NumericResult", Peer::Answering, 200, R"({"Result":1,"LoginID":"5"})", true, false, "UnknownHostException",
        "UnknownHostException", { kNotResult, kConnectionFailed }, {}, 1 },
    { "NumericResultQuiet", Peer::Answering, 200, R"({"Result":1})", false, false, "Error", "Error", { kNotResult },
        { kConnectionFailed }, 1 },
    { "ArrayAnswer", Peer::Answering, 200, R"(["Result","OK"])", true, false, "UnknownHostException",
        "UnknownHostException", { kNotResult }, {}, 1 },
    { "EmptyBody", Peer::Answering, 200, "", true, false, "UnknownHostException", "UnknownHostException",
        { kEmptyAnswer, kConnectionFailed }, {}, 1 },
    { "NotJson", Peer::Answering, 502, "<html>Bad Gateway</html>", true, false, "UnknownHostException",
        "UnknownHostException", { "AvServerconnectors - Parse fail: <html>Bad Gateway</html>", kConnectionFailed }, {},
        1 },
    { "HttpErrorWithGoodJson", Peer::Answering, 500, R"({"Result":"Denied","Error":"x","Extra":[1,2]})", true, false,
        "Denied", nullptr, {}, { kConnectionFailed, kNotResult }, 1 },
    { "NotFoundWithGoodJson", Peer::Answering, 404, R"({"Result":"OK"})", true, false, "OK", nullptr, {},
        { kConnectionFailed }, 1 },
    { "UntrustedCertificate", Peer::UntrustedCertificate, 200, R"({"Result":"OK"})", true, false,
        "UnknownHostException", "UnknownHostException", { kParseFailDomain, kConnectionFailed }, {}, 0 },
    { "CertificateOfAnotherCa", Peer::CertificateOfAnotherCa, 200, R"({"Result":"OK"})", true, false,
        "UnknownHostException", "UnknownHostException", { kParseFailDomain, kConnectionFailed }, {}, 0 },
};

class TransportTest : public ServerClientTest, public ::testing::WithParamInterface<TransportCase>
{
protected:
    void SetUp() override { ServerClientTest::SetUp(); }
    void TearDown() override { ServerClientTest::TearDown(); }
};

Json::Value registerRequest()
{
    Json::Value request(Json::objectValue);
    request["Command"] = "GetLoginID3";
    request["EMail"] = "ann@example.org";
    return request;
}

} // namespace

TEST_P(TransportTest, FailuresComeBackAsAnswersOfOneShape)
{
    const TransportCase& row = GetParam();
    LocalHttpsServer server(home() + "/server", [&row](const LocalHttpsServer::Request&) {
        return LocalHttpsServer::Answer{ row.status, row.body };
    });
    ASSERT_TRUE(server.isRunning());
    LoopbackSocket refused(false);
    ASSERT_GT(refused.port(), 0);

    switch (row.peer) {
    case Peer::Offline:
        AvGlobalLibSettings::instance().offlineMode = true;
        pointClientAt(server.url(), server.caFile());
        break;
    case Peer::RefusedPort:
        pointClientAt(refused.url(), server.caFile());
        break;
    case Peer::Answering:
        pointClientAt(server.url(), server.caFile());
        break;
    case Peer::UntrustedCertificate:
        pointClientAt(server.url(), std::string());
        break;
    case Peer::CertificateOfAnotherCa:
        pointClientAt(server.url(), makeUnrelatedCa(home() + "/other-ca"));
        break;
    }

    AVServerConnector connector(row.reportConnectionFailure);
    const Json::Value answer = connector.SendRequest(registerRequest(), row.suppressFailureReport);

    EXPECT_EQ(answer["Result"].asString(), row.result);
    if (row.error) {
        // Made by the transport: exactly the two members.
        EXPECT_EQ(answer["Error"].asString(), row.error);
        EXPECT_EQ(answer.getMemberNames(), (std::vector<std::string>{ "Error", "Result" }));
    } else {
        // From the server: passed on with every member.
        Json::Value expected;
        ASSERT_TRUE(Json::Reader().parse(row.body, expected));
        EXPECT_EQ(answer, expected);
    }
    EXPECT_EQ(server.requests().size(), row.requestsSeen);
    const std::string log = logText();
    for (const char* line : row.logged)
        EXPECT_NE(log.find(line), std::string::npos) << "missing log line: " << line << "\nlog:\n" << log;
    for (const char* line : row.notLogged)
        EXPECT_EQ(log.find(line), std::string::npos) << "unexpected log line: " << line << "\nlog:\n" << log;
}

INSTANTIATE_TEST_SUITE_P(Cases, TransportTest, ::testing::ValuesIn(kTransportCases),
    [](const ::testing::TestParamInfo<TransportCase>& info) { return std::string(info.param.name); });

TEST_F(ServerClientTest, RequestIsAPostOfTheCompactTextWithBothHeaders)
{
    LocalHttpsServer server(home() + "/server", [](const LocalHttpsServer::Request&) {
        return LocalHttpsServer::Answer{ 200, R"({"Result":"OK"})" };
    });
    ASSERT_TRUE(server.isRunning());
    pointClientAt(server.url() + "/", server.caFile());

    AVServerConnector connector(true);
    EXPECT_TRUE(connector.ConnectivityCheck());

    const std::vector<LocalHttpsServer::Request> seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].path, "/keyrequest.aspx");
    EXPECT_EQ(seen[0].contentType, "application/octet-stream");
    EXPECT_EQ(seen[0].transferEncoding, "binary");
    EXPECT_EQ(seen[0].body, "{\"Command\":\"ConnectivityCheck\",\"Version\":\"0.9.1737 OSX\"}\n");
}

TEST_F(ServerClientTest, UntrustedPeerReceivesOnlyATlsHandshake)
{
    LoopbackSocket peer(true);
    ASSERT_GT(peer.port(), 0);
    peer.captureFirstBytes();
    pointClientAt(peer.url(), std::string());

    AVServerConnector connector(true);
    Json::Value request = registerRequest();
    request["Secret"] = "do-not-leak";
    const Json::Value answer = connector.SendRequest(request);

    EXPECT_EQ(answer["Result"].asString(), "UnknownHostException");
    const std::string bytes = peer.firstBytes();
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], '\x16') << "a TLS handshake record comes first";
    EXPECT_EQ(bytes[1], '\x03');
    EXPECT_EQ(bytes.find("POST"), std::string::npos);
    EXPECT_EQ(bytes.find("do-not-leak"), std::string::npos);
    EXPECT_EQ(bytes.find("GetLoginID3"), std::string::npos);
}

TEST_F(ServerClientTest, PlainHttpUrlIsNeverUsed)
{
    LoopbackSocket peer(true);
    ASSERT_GT(peer.port(), 0);
    pointClientAt("http://127.0.0.1:" + std::to_string(peer.port()), std::string());

    AVServerConnector connector(true);
    EXPECT_EQ(connector.SendRequest(registerRequest())["Result"].asString(), "UnknownHostException");
    EXPECT_EQ(connector.PostRequest("{}\n"), AVServerConnector::kNetworkErrorDomain);
    EXPECT_FALSE(peer.hasPendingConnection()) << "no connection may even be attempted";
    EXPECT_NE(logText().find(kParseFailDomain), std::string::npos);
}
