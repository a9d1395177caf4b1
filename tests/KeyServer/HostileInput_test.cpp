// The real server on 127.0.0.1 over TLS, trusted through its generated CA:
// hostile requests each get a JSON failure answer and the server goes on
// serving; an account made through the outbox survives them all.

#include "JsonWire.h"
#include "KeyServerApp.h"
#include "KeyServerHarness.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/reader.h>

#include <filesystem>
#include <sstream>
#include <thread>

using namespace keyserver;

namespace {

Json::Value parseAnswer(const std::string& body)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(body);
    Json::parseFromStream(builder, in, &value, &errors);
    return value;
}

class HostileInput : public AvTempHome
{
protected:
    static constexpr std::size_t kBodyLimit = 64 * 1024;

    void SetUp() override
    {
        AvTempHome::SetUp();
        ServerOptions options;
        options.listenHost = "127.0.0.1";
        options.listenPort = 0;
        options.dataDir = home() + "/server";
        ServerPolicy policy = testPolicy();
        policy.maxBodyBytes = kBodyLimit;
        app = std::make_unique<KeyServerApp>(options, output, policy);
        ASSERT_TRUE(app->start()) << output.str();
        serving = std::thread([this] { app->serve(); });
    }
    void TearDown() override
    {
        if (app)
            app->stop();
        if (serving.joinable())
            serving.join();
        app.reset();
        AvTempHome::TearDown();
    }

    std::unique_ptr<httplib::SSLClient> client(bool trustCa = true) const
    {
        auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", app->port());
        if (trustCa)
            c->set_ca_cert_path(app->caFile().c_str());
        c->enable_server_certificate_verification(true);
        c->set_connection_timeout(10);
        c->set_read_timeout(30);
        return c;
    }

    // Posts the body and returns the parsed answer (null when there was none).
    Json::Value post(const std::string& body, const char* path = "/keyrequest.aspx") const
    {
        auto result = client()->Post(path, body, "application/octet-stream");
        return result ? parseAnswer(result->body) : Json::Value();
    }

    std::string newestMailCode(const std::string& address) const
    {
        std::string newest;
        for (const auto& entry : std::filesystem::directory_iterator(app->outboxFolder())) {
            const std::string name = entry.path().string();
            if (readWholeFile(name).find("To: <" + address + ">") != std::string::npos && name > newest)
                newest = name;
        }
        return newest.empty() ? std::string() : codeInMail(readWholeFile(newest));
    }

    void expectStillServing(const std::string& after) const
    {
        EXPECT_EQ(post(JsonWire::write(makeRequest("ConnectivityCheck")))["Result"].asString(), "OK")
            << "after " << after;
    }

    std::ostringstream output;
    std::unique_ptr<KeyServerApp> app;
    std::thread serving;
};

TEST_F(HostileInput, EachHostileRequestGetsAJsonFailureAndTheServerGoesOn)
{
    struct Row
    {
        const char* name;
        std::string body;
        const char* result;
        const char* error; // null: any non-empty detail
    };
    const std::string deepNesting = std::string(30000, '[') + std::string(30000, ']');
    const std::string oversized =
        "{\"Command\":\"RegisterUser3\",\"Firstname\":\"" + std::string(kBodyLimit + 100, 'x') + "\"}";
    const Row rows[] = {
        { "empty body", "", "Error", "MalformedRequest" },
        { "not JSON", "Command=ConnectivityCheck", "Error", "MalformedRequest" },
        { "cut off JSON", "{\"Command\":\"ConnectivityCheck\"", "Error", "MalformedRequest" },
        { "text after the object", "{\"Command\":\"ConnectivityCheck\"} {}", "Error", "MalformedRequest" },
        { "duplicate members", "{\"Command\":\"ConnectivityCheck\",\"Command\":\"Authenticate3\"}", "Error",
            "MalformedRequest" },
        { "comment in JSON", "{\"Command\":\"ConnectivityCheck\" /* hi */}", "Error", "MalformedRequest" },
        { "bare string", "\"ConnectivityCheck\"", "Error", "MalformedRequest" },
        { "array root", "[{\"Command\":\"ConnectivityCheck\"}]", "Error", "InvalidRequest" },
        { "nesting bomb", deepNesting, "Error", "MalformedRequest" },
        { "body over the limit", oversized, "Error", "RequestTooLarge" },
        { "raw NUL bytes", std::string("{\"Command\":\"Connectivity\0Check\"}", 32), "Error", nullptr },
        { "command is a number", "{\"Command\":12}", "Error", "InvalidRequest" },
        { "command is null", "{\"Command\":null}", "Error", "InvalidRequest" },
        { "unknown command", "{\"Command\":\"DeleteAllAccounts\"}", "Error", "UnknownCommand" },
        { "SQL from the client", "{\"Command\":\"Unittest_DBExecuteScalar\",\"Sql\":\"DROP TABLE accounts\"}", "Error",
            "CommandNotAvailable" },
        { "address with quotes",
            "{\"Command\":\"RegisterUser3\",\"EMail\":\"x'); DROP TABLE accounts;--@example.org\"}", "Error",
            "InvalidRequest" },
        { "name with escaped NUL",
            "{\"Command\":\"RegisterUser3\",\"EMail\":\"nul@example.org\",\"Firstname\":\"A\\u0000B\"}", "Error",
            "InvalidRequest" },
        { "name with invalid UTF-8",
            "{\"Command\":\"RegisterUser3\",\"EMail\":\"utf@example.org\",\"Lastname\":\"\xff\xfe\"}", "Error",
            nullptr },
        { "address of the wrong type", "{\"Command\":\"RegisterUser3\",\"EMail\":[\"a@example.org\"]}", "Error",
            "InvalidRequest" },
        { "huge number", "{\"Command\":\"RegisterUser3\",\"EMail\":1e999999}", "Error", nullptr },
        { "user with SQL", "{\"Command\":\"Authenticate3\",\"User\":\"' OR 1=1 --\",\"Password\":\"AAAA\"}", "Denied",
            "" },
        { "user and password of the wrong type",
            "{\"Command\":\"Authenticate3\",\"User\":{\"$ne\":1},\"Password\":[true]}", "Denied", "" },
        { "flag of the wrong type",
            "{\"Command\":\"ValidateUser3\",\"User\":\"a@example.org\",\"NewPassword\":\"AAAA\",\"ActiveKey\":\"5\","
            "\"Userkeys\":[{\"KeyID\":\"5\",\"PrivateKey\":\"AAAA\",\"PublicKey\":\"AAAA\"}],\"PasswordRecovery\":"
            "\"yes\"}",
            "Error", "InvalidRequest" },
        { "look-up without signing in", "{\"Command\":\"GetUserPublicKey2\",\"InvokedUser\":\"\\u0000\"}", "Denied",
            "" },
    };
    for (const Row& row : rows) {
        const Json::Value answer = post(row.body);
        ASSERT_TRUE(answer.isObject()) << row.name << ": no JSON answer";
        EXPECT_EQ(answer["Result"].asString(), row.result) << row.name;
        if (row.error)
            EXPECT_EQ(answer["Error"].asString(), row.error) << row.name;
        else
            EXPECT_FALSE(answer["Error"].asString().empty()) << row.name;
        expectStillServing(row.name);
    }
}

TEST_F(HostileInput, OtherPathsAndMethodsGetJsonToo)
{
    auto getAnswer = client()->Get("/keyrequest.aspx");
    ASSERT_TRUE(getAnswer);
    EXPECT_EQ(parseAnswer(getAnswer->body)["Error"].asString(), "NotFound");
    EXPECT_EQ(post("{\"Command\":\"ConnectivityCheck\"}", "/admin")["Error"].asString(), "NotFound");
    expectStillServing("other paths");
}

TEST_F(HostileInput, AClientThatDoesNotTrustTheCaSendsNothing)
{
    auto result =
        client(false)->Post("/keyrequest.aspx", "{\"Command\":\"ConnectivityCheck\"}", "application/octet-stream");
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error(), httplib::Error::SSLServerVerification);
    expectStillServing("an untrusting client");
}

TEST_F(HostileInput, AnAccountMadeThroughTheOutboxSurvivesTheAttacks)
{
    TestAccount account;
    account.email = "tls@example.org";
    account.renew();
    const Json::Value registered = post(JsonWire::write(makeRequest("RegisterUser3", { { "EMail", account.email } })));
    ASSERT_EQ(registered["Result"].asString(), "OK");
    account.loginId = registered["LoginID"].asString();
    const std::string code = newestMailCode(account.email);
    ASSERT_EQ(code.size(), 8u);
    ASSERT_EQ(post(JsonWire::write(KeyServerHarness::validateRequest(account, code)))["Result"].asString(), "OK");

    for (const char* sql : { "DROP TABLE accounts", "DELETE FROM accounts", "UPDATE accounts SET verifier_hash=x''" }) {
        Json::Value attack = makeRequest("Unittest_DBExecuteScalar", { { "Sql", sql } });
        EXPECT_NE(post(JsonWire::write(attack))["Result"].asString(), "OK");
        Json::Value injected = KeyServerHarness::signedRequest("Authenticate3", account);
        injected["User"] = account.email + "' OR '1'='1";
        EXPECT_EQ(post(JsonWire::write(injected))["Result"].asString(), "Denied");
    }
    const Json::Value signIn = post(JsonWire::write(KeyServerHarness::signedRequest("Authenticate3", account)));
    EXPECT_EQ(signIn["Result"].asString(), "OK");
    EXPECT_EQ(signIn["ActiveKey"].asString(), std::to_string(account.keyId));

    app->stop();
    serving.join();
    const std::string log = output.str();
    EXPECT_NE(log.find("RegisterUser3 OK"), std::string::npos) << log;
    EXPECT_NE(log.find("Authenticate3 Denied"), std::string::npos);
    for (const std::string& secret : { account.password, account.partialPassword, account.privateKey, code })
        EXPECT_EQ(log.find(secret), std::string::npos) << "the log never holds password values, keys or codes";
}

} // namespace
