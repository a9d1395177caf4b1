// The account operations that bring their own connector, against a scripted
// HTTPS stand-in: what they send, and what they refuse to send.

#include "LocalHttpsServer.h"
#include "ServerClientTest.h"

#include "crypto/AvCredentials.h"
#include "crypto/AvEncrypt.h"
#include "keyring/AvKeyring.h"
#include "server/AvKeyServerClient.h"
#include "server/AvServerAccount.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

Json::Value parsed(const std::string& text)
{
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
    return value;
}

class AccountOperationTest : public ServerClientTest
{
protected:
    void SetUp() override
    {
        ServerClientTest::SetUp();
        m_server = std::make_unique<LocalHttpsServer>(home() + "/server", [this](const LocalHttpsServer::Request& r) {
            const std::string command = parsed(r.body)["Command"].asString();
            std::lock_guard lock(m_answersMutex);
            const auto it = m_answers.find(command);
            return LocalHttpsServer::Answer{ 200, it == m_answers.end() ? R"({"Result":"Error"})" : it->second };
        });
        ASSERT_TRUE(m_server->isRunning());
        pointClientAt(m_server->url(), m_server->caFile());
        installKeyServerClient();
    }
    void TearDown() override
    {
        m_server.reset();
        ServerClientTest::TearDown();
    }

    std::vector<Json::Value> sent(const std::string& command) const
    {
        std::vector<Json::Value> requests;
        for (const auto& request : m_server->requests()) {
            Json::Value value = parsed(request.body);
            if (value["Command"].asString() == command)
                requests.push_back(value);
        }
        return requests;
    }

    void answer(const std::string& command, const std::string& text)
    {
        std::lock_guard lock(m_answersMutex);
        m_answers[command] = text;
    }

    std::mutex m_answersMutex;
    std::map<std::string, std::string> m_answers;
    std::unique_ptr<LocalHttpsServer> m_server;
};

} // namespace

TEST_F(AccountOperationTest, RegisterAccountNormalizesAddressAndCapitalizesNames)
{
    answer("RegisterUser3", R"({"Result":"OK","LoginID":"100042","Validation":"EMail"})");
    std::string loginId;
    bool validationRequired = false;
    EXPECT_EQ(
        AvServerAccount::RegisterAccount(" Ann@Example.ORG", "ann-marie", "van der berg", loginId, validationRequired),
        "OK");
    EXPECT_EQ(loginId, "100042");
    EXPECT_TRUE(validationRequired);
    const std::vector<Json::Value> requests = sent("RegisterUser3");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["EMail"].asString(), "ann@example.org");
    EXPECT_EQ(requests[0]["Firstname"].asString(), "Ann-Marie");
    EXPECT_EQ(requests[0]["Lastname"].asString(), "Van Der Berg");
}

TEST_F(AccountOperationTest, ValidateAccountUploadsANewKeySealedForTheLoginId)
{
    answer("GetLoginID3", R"({"Result":"OK","LoginID":"100042"})");
    answer("ValidateUser3", R"({"Result":"OK"})");
    std::string code = "  123 456 ";
    EXPECT_EQ(AvServerAccount::ValidateAccount("Ann@example.org", "100042", code, SecureString("pw"), true), "OK");
    EXPECT_EQ(code, "123 456");

    const std::vector<Json::Value> requests = sent("ValidateUser3");
    ASSERT_EQ(requests.size(), 1u);
    const Json::Value& request = requests[0];
    EXPECT_EQ(request["Verifier"].asString(), "123 456");
    const AvCredentials credentials("100042", SecureString("pw"), 0);
    EXPECT_EQ(request["NewPassword"].asString(), credentials.serverPasswordText());
    std::uint64_t keyId = 0;
    ASSERT_TRUE(textToKeyId(request["ActiveKey"].asString(), keyId));
    EXPECT_EQ(request["Userkeys"][0]["KeyID"].asString(), request["ActiveKey"].asString());
    EXPECT_EQ(base64Decode(request["Userkeys"][0]["PublicKey"].asString()).size(), kPublicRawSize);

    // The sealed key opens with the account's credentials and makes a key pair.
    AvKeyring& ring = AvKeyring::instance();
    ring.credentials = std::make_unique<AvCredentials>(credentials, 0);
    EXPECT_TRUE(ring.ImportPrivateKey(request["Userkeys"], keyId));
    EXPECT_EQ(ring.ExportPublicKey(keyId), base64Decode(request["Userkeys"][0]["PublicKey"].asString()));
}

TEST_F(AccountOperationTest, ValidateAccountRefusesALoginIdTheAddressDoesNotResolveTo)
{
    answer("ValidateUser3", R"({"Result":"OK"})");
    const struct
    {
        const char* loginAnswer;
        const char* loginId;
    } cases[] = {
        { R"({"Result":"OK","LoginID":"999"})", "100042" },
        { R"({"Result":"Error"})", "100042" },
        { R"({"Result":"OK","LoginID":"100042"})", "" },
        { R"({"Result":"OK","LoginID":"100042"})", "ann@example.org" },
    };
    for (const auto& row : cases) {
        AvCredentials::clearUserIdCache();
        answer("GetLoginID3", row.loginAnswer);
        std::string code = "123456";
        EXPECT_EQ(
            AvServerAccount::ValidateAccount("ann@example.org", row.loginId, code, SecureString("pw"), true), "Error")
            << row.loginAnswer << " " << row.loginId;
    }
    EXPECT_TRUE(sent("ValidateUser3").empty());
}

TEST_F(AccountOperationTest, ResetPasswordWithoutCodeOnlyAsksForOne)
{
    answer("PasswordReset2", R"({"Result":"OK"})");
    std::string user = " Ann@Example.org ";
    std::string code;
    EXPECT_EQ(AvServerAccount::ResetPassword(user, code, SecureString(), true), "OK");
    EXPECT_EQ(user, "ann@example.org");
    const std::vector<Json::Value> requests = sent("PasswordReset2");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].getMemberNames(), (std::vector<std::string>{ "Command", "User", "Version" }));
}

TEST_F(AccountOperationTest, ResetPasswordWithCodeSendsANewKeyAndPassword)
{
    answer("GetLoginID3", R"({"Result":"OK","LoginID":"100042"})");
    answer("PasswordReset2", R"({"Result":"OK"})");
    std::string user = "ann@example.org";
    std::string code = " 987654 ";
    EXPECT_EQ(AvServerAccount::ResetPassword(user, code, SecureString("new"), false), "OK");
    EXPECT_EQ(code, "987654");
    const std::vector<Json::Value> requests = sent("PasswordReset2");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["ResetCode"].asString(), "987654");
    EXPECT_EQ(
        requests[0]["NewPassword"].asString(), AvCredentials("100042", SecureString("new"), 0).serverPasswordText());
    EXPECT_EQ(requests[0]["PasswordRecovery"].asInt(), 0);
    EXPECT_NE(logText().find("Initialize Password Reset of UserId: ann@example.org"), std::string::npos);
    EXPECT_NE(logText().find("New Private Key with KeyId: " + requests[0]["ActiveKey"].asString() + "generated"),
        std::string::npos);
}

TEST_F(AccountOperationTest, RecoveryNeedsTheLocalHalfAndAServerHalfThatFits)
{
    answer("GetLoginID3", R"({"Result":"OK","LoginID":"100042"})");
    // No key-ring file on this computer: nothing is asked.
    EXPECT_FALSE(AvServerAccount::HasRecoveryKey("ann@example.org"));
    EXPECT_EQ(AvServerAccount::RecoverPassword("ann@example.org", "123456", SecureString("x")), "Unavailable");
    EXPECT_TRUE(sent("PasswordRecovery2").empty());

    // A key-ring file with its recovery half.
    AvKeyring& ring = AvKeyring::instance();
    ring.credentials = std::make_unique<AvCredentials>("ann@example.org", SecureString("old"), 0);
    ring.activeCryptKeyID = ring.CreateKeyPair();
    ASSERT_TRUE(ring.SaveKey());
    ring.Reset();
    EXPECT_TRUE(AvServerAccount::HasRecoveryKey(" ANN@example.org"));

    const struct
    {
        const char* answer;
        const char* result;
    } cases[] = {
        { R"({"Result":"Denied"})", "Denied" },
        { R"({"Result":"OK"})", "Error" },
        { R"({"Result":"OK","PartialPassword":"c2hvcnQ="})", "Denied" },
    };
    for (const auto& row : cases) {
        answer("PasswordRecovery2", row.answer);
        EXPECT_EQ(AvServerAccount::RecoverPassword("ann@example.org", " 123456 ", SecureString("x")), row.result)
            << row.answer;
        EXPECT_FALSE(ring.unlocked);
    }
    for (const Json::Value& request : sent("PasswordRecovery2"))
        EXPECT_EQ(request["RecoveryCode"].asString(), "123456");
}
