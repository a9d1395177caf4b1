// How requests are written and completed, where they go, and how answers
// are read, without any network: the exchange itself is scripted.

#include "ServerClientTest.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace {

// The reference the request text must match byte for byte: jsoncpp's
// compact writer, deprecated in favour of the builder we use.
std::string fastWriterText(const Json::Value& value)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::FastWriter writer;
    return writer.write(value);
#pragma GCC diagnostic pop
}

Json::Value parsed(const std::string& text)
{
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
    return value;
}

class ThrowingConnector : public AVServerConnector
{
public:
    using AVServerConnector::AVServerConnector;
    std::string PostRequest(const std::string&) override { throw std::runtime_error("socket gone"); }
};

} // namespace

TEST(RequestText, MatchesTheCompactWriterByteForByte)
{
    const char* const documents[] = {
        R"({"Version":"v","Command":"GetLoginID3","EMail":"a@b.c"})",
        R"({"b":1,"a":{"z":[],"y":{}},"A":[1,-2,3.5,true,false,null,"x"]})",
        R"({"Userkeys":[{"PublicKey":"QUJD","PrivateKey":"REVG","KeyID":"18446744073709551615"}],"ActiveKey":"1"})",
        R"({"Firstname":"J\u00fcrgen","Lastname":"O'Brien \"Jr\"","Tab":"a\tb\n\u0001","Slash":"a/b\\c"})",
        R"({"Big":18446744073709551615,"Small":-9223372036854775808,"Real":0.1,"Zero":0})",
        R"({"_":1,"a":2,"Z":3,"0":4,"\u00e4":5})",
        "[]",
        "{}",
    };
    for (const char* document : documents) {
        const Json::Value value = parsed(document);
        EXPECT_EQ(AVServerConnector::writeRequest(value), fastWriterText(value)) << document;
    }
}

TEST(RequestText, HasSortedMembersNoWhiteSpaceAndAFinalLineFeed)
{
    Json::Value request(Json::objectValue);
    request["Version"] = "0.9.1737 OSX";
    request["EMail"] = "ann@example.org";
    request["Command"] = "RegisterUser3";
    request["PasswordRecovery"] = 1;
    request["ManualLogin"] = true;
    EXPECT_EQ(AVServerConnector::writeRequest(request),
        "{\"Command\":\"RegisterUser3\",\"EMail\":\"ann@example.org\",\"ManualLogin\":true,"
        "\"PasswordRecovery\":1,\"Version\":\"0.9.1737 OSX\"}\n");
}

TEST_F(ServerClientTest, ServerUrlComesFromTheEnvironment)
{
    const struct
    {
        const char* variable; // nullptr: unset
        const char* url;
    } cases[] = {
        { nullptr, "https://keys.ardentvault.org:443/keyrequest.aspx" },
        { "", "https://keys.ardentvault.org:443/keyrequest.aspx" },
        { "   ", "https://keys.ardentvault.org:443/keyrequest.aspx" },
        { "https://127.0.0.1:8443", "https://127.0.0.1:8443/keyrequest.aspx" },
        { " https://keys.example.net// ", "https://keys.example.net/keyrequest.aspx" },
    };
    for (const auto& row : cases) {
        if (row.variable)
            ::setenv(AVServerConnector::kServerUrlVariable, row.variable, 1);
        else
            ::unsetenv(AVServerConnector::kServerUrlVariable);
        EXPECT_EQ(AVServerConnector::keyRequestUrl(), row.url) << (row.variable ? row.variable : "(unset)");
    }
}

TEST_F(ServerClientTest, ConnectorWithoutKeyRingSendsOnlyCommandFieldsAndVersion)
{
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK","LoginID":"4711"})" };
    std::string loginId;
    EXPECT_EQ(connector.GetLoginID("ann@example.org", loginId), "OK");
    ASSERT_EQ(connector.sent.size(), 1u);
    EXPECT_EQ(connector.sent[0],
        "{\"Command\":\"GetLoginID3\",\"EMail\":\"ann@example.org\",\"Version\":\"0.9.1737 OSX\"}\n");
}

TEST_F(ServerClientTest, BoundConnectorSendsInTheNameOfTheSignedInAccount)
{
    AvKeyring& ring = AvKeyring::instance();
    ScriptedConnector connector(&ring, true);
    connector.answers = { R"({"Result":"OK"})", R"({"Result":"OK"})" };

    // No credentials yet: no "User", no "Password".
    connector.SendRequest(Json::Value(Json::objectValue));
    EXPECT_EQ(connector.sent.back(), "{\"Version\":\"0.9.1737 OSX\"}\n");

    ring.credentials = std::make_unique<AvCredentials>("654321", SecureString("pass word"), 0);
    Json::Value request(Json::objectValue);
    request["Command"] = "ConnectivityCheck";
    request["User"] = "someone else";
    request["Version"] = "forged";
    connector.SendRequest(request);
    const Json::Value sent = parsed(connector.sent.back());
    EXPECT_EQ(sent["User"].asString(), "654321");
    EXPECT_EQ(sent["Password"].asString(), ring.credentials->serverPasswordText());
    EXPECT_EQ(sent["Password"].asString().size(), 24u);
    EXPECT_EQ(sent["Version"].asString(), "0.9.1737 OSX");
    EXPECT_EQ(sent.getMemberNames(), (std::vector<std::string>{ "Command", "Password", "User", "Version" }));
}

TEST(AnswerMembers, AreReadAsTextWhateverTheirType)
{
    const Json::Value answer =
        parsed(R"({"S":"text","T":true,"F":false,"N":null,"I":17,"R":1.5,"A":["x"],"O":{"x":"y"},"E":""})");
    const struct
    {
        const char* member;
        const char* text;
    } cases[] = {
        { "S", "text" },
        { "T", "true" },
        { "F", "false" },
        { "N", "" },
        { "I", "" },
        { "R", "" },
        { "A", "" },
        { "O", "" },
        { "E", "" },
        { "Missing", "" },
    };
    for (const auto& row : cases)
        EXPECT_EQ(AVServerConnector::memberText(answer, row.member), row.text) << row.member;
    EXPECT_EQ(AVServerConnector::memberText(parsed("[1]"), "S"), "");
}

TEST_F(ServerClientTest, ExceptionsWhilePostingEndInTheFailureAnswer)
{
    ThrowingConnector connector(true);
    const Json::Value answer = connector.SendRequest(Json::Value(Json::objectValue));
    EXPECT_EQ(answer["Result"].asString(), "UnknownHostException");
    EXPECT_EQ(answer["Error"].asString(), "UnknownHostException");
    const std::string log = logText();
    EXPECT_NE(log.find("AvServerconnector - SendRequest.POST.Catch"), std::string::npos);
    EXPECT_EQ(log.find("AvServerconnector - Connection failed"), std::string::npos);
}

TEST_F(ServerClientTest, HostileAnswersNeitherCrashNorPassAsSuccess)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string huge = "{\"Result\":\"OK\",\"Pad\":\"" + std::string(4000, 'x') + "\" garbage";
    for (const std::string& text : { deep, huge, std::string("\0\0\0", 3), std::string("{\"Result\":\"OK\"") }) {
        ScriptedConnector connector(false);
        connector.answers = { text };
        const Json::Value answer = connector.SendRequest(Json::Value(Json::objectValue));
        EXPECT_EQ(answer["Result"].asString(), "Error");
        EXPECT_EQ(answer.size(), 2u);
    }
    // The log keeps a bounded piece of an unparsable answer.
    EXPECT_LT(logText().size(), 20000u);
}

TEST_F(ServerClientTest, TrailingTextAfterTheAnswerIsIgnoredAsTheReaderDoes)
{
    ScriptedConnector connector(true);
    connector.answers = { "{\"Result\":\"OK\"}\n// trailing comment\n" };
    EXPECT_EQ(connector.SendRequest(Json::Value(Json::objectValue))["Result"].asString(), "OK");
}
