// Every command of the connector: the request it writes and what it makes of
// the answers it may get. The exchange is scripted; the key ring is the real
// process-wide one.

#include "ServerClientTest.h"

#include "crypto/AvCredentials.h"
#include "crypto/AvEncrypt.h"
#include "keyring/AvKeyring.h"
#include "keyring/AvSqliteDb.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr const char* kLocalId = "123456";
constexpr const char* kVersionMember = "\"Version\":\"0.9.1737 OSX\"";

Json::Value parsed(const std::string& text)
{
    Json::Value value;
    EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
    return value;
}

std::string rawPublicKey()
{
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicKey;
    GenerateKeyPair(privateKey, publicKey);
    std::uint8_t raw[kPublicRawSize];
    std::uint32_t length = sizeof raw;
    EXPECT_TRUE(PublicToRaw(publicKey, raw, length));
    return std::string(reinterpret_cast<const char*>(raw), length);
}

class CommandTest : public ServerClientTest
{
protected:
    static AvKeyring& ring() { return AvKeyring::instance(); }

    // The ring signed in as a local account with one active key pair.
    static std::uint64_t signInWithOneKey(const char* password = "old password")
    {
        ring().credentials = std::make_unique<AvCredentials>(kLocalId, SecureString(password), 0);
        ring().activeCryptKeyID = ring().CreateKeyPair();
        return ring().activeCryptKeyID;
    }

    // Every login name resolves to this id, as the key server would answer.
    static void resolveEveryNameTo(std::string id)
    {
        AvCredentials::setServerUserIdLookup([id](const std::string&) { return id; });
    }

    std::vector<std::string> cachedUsers() const
    {
        std::vector<std::string> rows;
        AvSqliteDb db = AvSqliteDb::open(m_dataFolder + "Publickeys.pref");
        AvSqliteStatement select = db.prepare("SELECT User, KeyID FROM PubKeys ORDER BY User");
        while (select && select.step() == SQLITE_ROW)
            rows.push_back(select.columnText(0) + "=" + std::to_string(select.columnInt64(1)));
        return rows;
    }
};

} // namespace

// ---- RegisterUser3 -----------------------------------------------------------

TEST_F(CommandTest, RegisterUserSendsTheNormalizedAddressNamesAndLanguage)
{
    AvGlobalLibSettings::instance().language = "de";
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK","LoginID":"100042","Validation":"EMail"})" };
    std::string loginId;
    bool validationRequired = false;
    EXPECT_EQ(connector.RegisterUser(" Ann@Example.ORG ", "Ann", "Lee-Smith", loginId, validationRequired), "OK");
    EXPECT_EQ(connector.sent.at(0),
        std::string("{\"Command\":\"RegisterUser3\",\"EMail\":\"ann@example.org\",\"Firstname\":\"Ann\","
                    "\"Language\":\"de\",\"Lastname\":\"Lee-Smith\",")
            + kVersionMember + "}\n");
    EXPECT_EQ(loginId, "100042");
    EXPECT_TRUE(validationRequired);
}

TEST_F(CommandTest, RegisterUserReadsLoginIdAndValidationFlag)
{
    const struct
    {
        const char* answer;
        const char* result;
        const char* loginId;
        bool validationRequired;
    } cases[] = {
        { R"({"Result":"OK","LoginID":"7","Validation":"EMail"})", "OK", "7", true },
        { R"({"Result":"OK","LoginID":"7"})", "OK", "7", false },
        { R"({"Result":"OK","LoginID":"7","Validation":1})", "OK", "7", false },
        { R"({"Result":"OK","LoginID":7,"Validation":null})", "OK", "", false },
        { R"({"Result":"Duplicate","LoginID":"7"})", "Duplicate", "unchanged", true },
        { "", "UnknownHostException", "unchanged", true },
    };
    for (const auto& row : cases) {
        ScriptedConnector connector(true);
        connector.answers = { row.answer };
        std::string loginId = "unchanged";
        bool validationRequired = !row.validationRequired;
        EXPECT_EQ(connector.RegisterUser("a@b.c", "A", "B", loginId, validationRequired), row.result) << row.answer;
        EXPECT_EQ(loginId, row.loginId) << row.answer;
        EXPECT_EQ(validationRequired, row.validationRequired) << row.answer;
    }
}

// ---- ValidateUser3 and PasswordReset2 (complete form) --------------------------

TEST_F(CommandTest, ValidateUserSendsVerifierKeyAndPasswordValuesOfTheLoginId)
{
    resolveEveryNameTo("100042");
    const AvCredentials expected("100042", SecureString("secret"), 0);
    for (const bool recovery : { true, false }) {
        ScriptedConnector connector(true);
        connector.answers = { R"({"Result":"OK"})" };
        EXPECT_EQ(connector.ValidateUser(
                      " Ann@Example.org", SecureString("secret"), " 123 456 ", recovery, 99, "UFJJVg==", "UFVC"),
            "OK");
        const Json::Value sent = parsed(connector.sent.at(0));
        EXPECT_EQ(sent["Command"].asString(), "ValidateUser3");
        EXPECT_EQ(sent["User"].asString(), "ann@example.org");
        EXPECT_EQ(sent["Verifier"].asString(), "123 456");
        EXPECT_EQ(sent["ActiveKey"].asString(), "99");
        EXPECT_EQ(sent["NewPassword"].asString(), expected.serverPasswordText());
        EXPECT_EQ(sent["Userkeys"], parsed(R"([{"KeyID":"99","PrivateKey":"UFJJVg==","PublicKey":"UFVC"}])"));
        EXPECT_TRUE(sent["PasswordRecovery"].isInt());
        EXPECT_EQ(sent["PasswordRecovery"].asInt(), recovery ? 1 : 0);
        if (recovery)
            EXPECT_EQ(sent["PartialPassword"].asString(), expected.secondHalfText());
        else
            EXPECT_FALSE(sent.isMember("PartialPassword"));
        EXPECT_FALSE(sent.isMember("Password"));
    }
}

TEST_F(CommandTest, NewPasswordIsNotSentWithoutTheAccountsLoginId)
{
    // Nobody can resolve the address: the derivation would use the bare salt
    // and the server would store a verifier no sign-in ever matches.
    ScriptedConnector connector(true);
    EXPECT_EQ(
        connector.ValidateUser("ann@example.org", SecureString("pw"), "123456", true, 9, "QQ==", "QQ=="), "Error");
    EXPECT_EQ(
        connector.PasswordReset("ann@example.org", SecureString("pw"), "123456", true, 9, "QQ==", "QQ=="), "Error");
    EXPECT_TRUE(connector.sent.empty());
}

TEST_F(CommandTest, PasswordResetCompleteFormCarriesCodeKeyAndNewPassword)
{
    resolveEveryNameTo("100042");
    const AvCredentials expected("100042", SecureString("new"), 0);
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"Denied"})" };
    EXPECT_EQ(
        connector.PasswordReset(" ANN@example.org ", SecureString("new"), "55 66", false, 5, "UA==", "UQ=="), "Denied");
    const Json::Value sent = parsed(connector.sent.at(0));
    EXPECT_EQ(sent.getMemberNames(),
        (std::vector<std::string>{
            "ActiveKey", "Command", "NewPassword", "PasswordRecovery", "ResetCode", "User", "Userkeys", "Version" }));
    EXPECT_EQ(sent["User"].asString(), "ann@example.org");
    EXPECT_EQ(sent["ResetCode"].asString(), "55 66");
    EXPECT_EQ(sent["NewPassword"].asString(), expected.serverPasswordText());
    EXPECT_EQ(sent["PasswordRecovery"].asInt(), 0);
    EXPECT_EQ(sent["Userkeys"][0]["KeyID"].asString(), "5");
}

// ---- Authenticate3 -----------------------------------------------------------------

TEST_F(CommandTest, AuthenticateSendsTheLoginStatistics)
{
    signInWithOneKey();
    ScriptedConnector connector(&ring(), true);
    connector.answers = { R"({"Result":"Denied"})" };
    EXPECT_EQ(connector.Authenticate(), "Denied");
    EXPECT_EQ(connector.sent.at(0),
        "{\"Command\":\"Authenticate3\",\"EncryptedFilesCount\":\"0\",\"HasDB\":0,\"HasOutlook\":0,"
        "\"ManualLogin\":true,\"Password\":\""
            + ring().credentials->serverPasswordText() + "\",\"User\":\"123456\"," + kVersionMember + "}\n");
    EXPECT_NE(logText().find("Authenticate 123456 Denied"), std::string::npos);
}

TEST_F(CommandTest, AuthenticateTellsWhetherTheKeysAreOutdated)
{
    const std::uint64_t active = signInWithOneKey();
    const std::string own = keyIdToText(active);
    const std::string other = keyIdToText(active + 1);
    const struct
    {
        std::string answer;
        const char* result;
    } cases[] = {
        { R"({"Result":"OK"})", "OK" },
        { R"({"Result":"OK","ActiveKey":")" + own + R"(","Keylist":[")" + own + R"("]})", "OK" },
        { R"({"Result":"OK","ActiveKey":")" + own + R"(","Keylist":[")" + own + R"(",")" + other + R"("]})",
            "RefreshKeys" },
        { R"({"Result":"OK","ActiveKey":")" + other + R"(","Keylist":[")" + own + R"("]})", "RefreshKeys" },
        { R"({"Result":"OK","Keylist":[")" + other + R"("]})", "RefreshKeys" },
        // Members of the wrong type are ignored.
        { R"({"Result":"OK","ActiveKey":)" + other + R"(,"Keylist":")" + other + R"("})", "OK" },
        { R"({"Result":"OK","ActiveKey":"not a number","Keylist":[7,null,"x",")" + own + R"("]})", "OK" },
        { R"({"Result":"CheckEmailValCode","ActiveKey":")" + other + R"("})", "CheckEmailValCode" },
        { R"({"Result":"CompleteNewAccountData"})", "CompleteNewAccountData" },
        { "", "UnknownHostException" },
    };
    for (const auto& row : cases) {
        ScriptedConnector connector(&ring(), true);
        connector.answers = { row.answer };
        EXPECT_EQ(connector.Authenticate(), row.result) << row.answer;
    }
}

TEST_F(CommandTest, AuthenticateTakesNamesAndRecoveryFlagFromAnOkAnswer)
{
    signInWithOneKey();
    ASSERT_TRUE(ring().SaveKey());
    ScriptedConnector connector(&ring(), true);
    connector.answers = {
        R"({"Result":"OK","Firstname":"Ann","Lastname":"Lee","PasswordRecovery":0})",
        R"({"Result":"OK","Firstname":7,"PasswordRecovery":"1"})",
        R"({"Result":"Denied","Firstname":"Eve","PasswordRecovery":1})",
    };

    EXPECT_EQ(connector.Authenticate(), "OK");
    EXPECT_EQ(ring().firstName, "Ann");
    EXPECT_EQ(ring().lastName, "Lee");
    EXPECT_FALSE(ring().usePasswordRecovery);
    EXPECT_TRUE(AvCredentials::StoredPartialPassword(kLocalId).empty()) << "PwRec is emptied at once";

    // A recovery flag that is not an integer changes nothing; missing names become empty.
    EXPECT_EQ(connector.Authenticate(), "OK");
    EXPECT_EQ(ring().firstName, "");
    EXPECT_EQ(ring().lastName, "");
    EXPECT_FALSE(ring().usePasswordRecovery);

    // Nothing of a refusal is taken.
    EXPECT_EQ(connector.Authenticate(), "Denied");
    EXPECT_EQ(ring().firstName, "");
    EXPECT_FALSE(ring().usePasswordRecovery);
}

// ---- GetUserkeys2 ----------------------------------------------------------------

TEST_F(CommandTest, GetUserkeysImportsTheServersKeyListAndActiveKey)
{
    const std::uint64_t active = signInWithOneKey("pw");
    const std::uint64_t second = ring().CreateKeyPair();
    const Json::Value keyList = ring().ExportKeys().value();
    // The same account on a computer without keys.
    ring().Reset();
    ring().credentials = std::make_unique<AvCredentials>(kLocalId, SecureString("pw"), 0);

    Json::Value answer(Json::objectValue);
    answer["Result"] = "OK";
    answer["Userkeys"] = keyList;
    answer["ActiveKey"] = keyIdToText(active);
    ScriptedConnector connector(&ring(), true);
    connector.answers = { AVServerConnector::writeRequest(answer), R"({"Result":"Denied"})" };

    EXPECT_EQ(connector.GetUserkeys(), "OK");
    EXPECT_EQ(parsed(connector.sent.at(0))["Command"].asString(), "GetUserkeys2");
    EXPECT_EQ(ring().privateKeys.size(), 2u);
    EXPECT_NE(ring().FindPrivateKey(second), nullptr);
    EXPECT_EQ(ring().activeCryptKeyID, active);

    EXPECT_EQ(connector.GetUserkeys(), "Denied");
    EXPECT_NE(
        logText().find("AvServerconnector - GetUserKeys Error. Return Value from Server: Denied"), std::string::npos);
}

// ---- ChangePassword2 -----------------------------------------------------------------

TEST_F(CommandTest, ChangePasswordSendsEveryKeySealedWithTheNewPassword)
{
    const std::uint64_t active = signInWithOneKey("old");
    const std::uint64_t second = ring().CreateKeyPair();
    ScriptedConnector connector(&ring(), true);
    connector.answers = { R"({"Result":"OK"})" };

    EXPECT_EQ(connector.ChangePassword(SecureString("new"), true), "OK");
    const AvCredentials newCredentials(kLocalId, SecureString("new"), 0);
    const Json::Value sent = parsed(connector.sent.at(0));
    EXPECT_EQ(sent["Command"].asString(), "ChangePassword2");
    EXPECT_EQ(sent["NewPassword"].asString(), newCredentials.serverPasswordText());
    EXPECT_EQ(sent["Password"].asString(), ring().credentials->serverPasswordText()) << "still the old one";
    EXPECT_EQ(sent["PasswordRecovery"].asInt(), 1);
    EXPECT_EQ(sent["PartialPassword"].asString(), newCredentials.secondHalfText());
    ASSERT_EQ(sent["Userkeys"].size(), 2u);

    // The uploaded keys open with the new password only.
    ring().Reset();
    ring().credentials = std::make_unique<AvCredentials>(newCredentials, 0);
    EXPECT_TRUE(ring().ImportPrivateKey(sent["Userkeys"], active));
    EXPECT_NE(ring().FindPrivateKey(second), nullptr);
    EXPECT_NE(logText().find("Password changed for user 123456 OK"), std::string::npos);
}

// ---- GetUserPublicKey2 ------------------------------------------------------------------

namespace {

enum class Cache { Empty, HoldsOldKey };

struct PublicKeyCase
{
    const char* name;
    Cache cache;
    bool offline;
    const char* answer; // "%KEY%" and "%ID%" stand for the server's new key
    const char* result;
    bool sent;
    const char* keyInRing; // "new", "old" or "none"
    const char* cacheRow; // "new", "old" or "none"
};

void PrintTo(const PublicKeyCase& row, std::ostream* out)
{
    *out << row.name;
}

constexpr std::uint64_t kOldId = 6600;
constexpr std::uint64_t kNewId = 7700;

const PublicKeyCase kPublicKeyCases[] = {
    { "FetchedAndCached", Cache::Empty, false, R"({"Result":"OK","PublicKey":"%KEY%","ActiveKey":"%ID%"})", "OK", true,
        "new", "new" },
    { "NewerKeyReplacesCachedOne", Cache::HoldsOldKey, false,
        R"({"Result":"OK","PublicKey":"%KEY%","ActiveKey":"%ID%"})", "OK", true, "new", "new" },
    { "OfflineWithCache", Cache::HoldsOldKey, true, "", "OK_FromCache", false, "old", "old" },
    { "OfflineWithoutCache", Cache::Empty, true, "", "Error", false, "none", "none" },
    { "UnreachableWithCache", Cache::HoldsOldKey, false, "", "OK_FromCache", true, "old", "old" },
    { "UnreachableWithoutCache", Cache::Empty, false, "", "UnknownHostException", true, "none", "none" },
    { "ServerErrorWithCache", Cache::HoldsOldKey, false, R"({"Result":"Error","Error":"Database"})", "OK_FromCache",
        true, "old", "old" },
    { "UnknownUserWithCache", Cache::HoldsOldKey, false,
        R"({"Result":"Error","Error":"GetUserPublicKey2.NoUserwithIDfound"})", "Err_NOID", true, "old", "old" },
    { "UnknownUser", Cache::Empty, false, R"({"Result":"Error","Error":"GetUserPublicKey2.NoUserwithIDfound"})",
        "Err_NOID", true, "none", "none" },
    { "DeniedWithCache", Cache::HoldsOldKey, false, R"({"Result":"Denied"})", "Denied", true, "old", "old" },
    { "BrokenKey", Cache::Empty, false, R"({"Result":"OK","PublicKey":"AAAA","ActiveKey":"%ID%"})",
        "AVServerConnector.InvokePubKey: Error importing PublicKey", true, "none", "none" },
    { "KeyIdNotANumber", Cache::Empty, false, R"({"Result":"OK","PublicKey":"%KEY%","ActiveKey":"x1"})",
        "AVServerConnector.InvokePubKey: Error importing PublicKey", true, "none", "none" },
};

std::string replaced(std::string text, const std::string& token, const std::string& value)
{
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token))
        text.replace(at, token.size(), value);
    return text;
}

class PublicKeyTest : public CommandTest, public ::testing::WithParamInterface<PublicKeyCase>
{
};

} // namespace

TEST_P(PublicKeyTest, ServerAndCacheTogetherAnswerTheLookUp)
{
    const PublicKeyCase& row = GetParam();
    const std::string user = "bob@example.org";
    signInWithOneKey();
    if (row.cache == Cache::HoldsOldKey) {
        ASSERT_TRUE(ring().ImportPublicKey(kOldId, user, rawPublicKey()));
        ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(kOldId)));
        // A fresh ring: the key is only in the cache file.
        ring().Reset();
        signInWithOneKey();
    }
    AvGlobalLibSettings::instance().offlineMode = row.offline;
    const std::string newKey = rawPublicKey();
    ScriptedConnector connector(&ring(), true);
    connector.answers = { replaced(replaced(row.answer, "%KEY%", base64Encode(newKey)), "%ID%", keyIdToText(kNewId)) };

    EXPECT_EQ(connector.GetUserPublicKey(user), row.result);

    EXPECT_EQ(connector.sent.size(), row.sent ? 1u : 0u);
    if (row.sent) {
        EXPECT_EQ(parsed(connector.sent[0])["InvokedUser"].asString(), user);
    }
    const AvKeyPublic* found = ring().FindPublicKeyByUser(user);
    const std::string inRing = !found ? "none" : found->keyId == kNewId ? "new" : "old";
    EXPECT_EQ(inRing, row.keyInRing);
    const std::vector<std::string> rows = cachedUsers();
    const std::string cacheRow = rows.empty()                                     ? "none"
        : rows == std::vector<std::string>{ user + "=" + std::to_string(kNewId) } ? "new"
        : rows == std::vector<std::string>{ user + "=" + std::to_string(kOldId) } ? "old"
                                                                                  : "unexpected";
    EXPECT_EQ(cacheRow, row.cacheRow);
    // With a cached key, an unreachable server is not reported as such.
    if (row.cache == Cache::HoldsOldKey) {
        EXPECT_EQ(logText().find("AvServerconnector - Connection failed"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PublicKeyTest, ::testing::ValuesIn(kPublicKeyCases),
    [](const ::testing::TestParamInfo<PublicKeyCase>& info) { return std::string(info.param.name); });

// ---- GetLoginID3 -----------------------------------------------------------------------

TEST_F(CommandTest, GetLoginIdGivesANumericIdOnlyForOk)
{
    const struct
    {
        const char* answer;
        const char* result;
        const char* loginId;
    } cases[] = {
        { R"({"Result":"OK","LoginID":"100042"})", "OK", "100042" },
        { R"({"Result":"OK","LoginID":100042})", "OK", "" },
        { R"({"Result":"OK","LoginID":"10 0042"})", "OK", "" },
        { R"({"Result":"OK","LoginID":"../x"})", "OK", "" },
        { R"({"Result":"Error","LoginID":"100042"})", "Error", "" },
        { "", "UnknownHostException", "" },
    };
    for (const auto& row : cases) {
        ScriptedConnector connector(true);
        connector.answers = { row.answer };
        std::string loginId = "stale";
        EXPECT_EQ(connector.GetLoginID("ann@example.org", loginId), row.result) << row.answer;
        EXPECT_EQ(loginId, row.loginId) << row.answer;
    }
    EXPECT_NE(
        logText().find("AvServerconnector - GetLoginID Error. Return Value from Server: Error"), std::string::npos);
}

// ---- PasswordRecovery2 and PasswordReset2 (request form) -----------------------------------

TEST_F(CommandTest, PasswordRecoveryWithAndWithoutCode)
{
    const struct
    {
        const char* code;
        const char* answer;
        const char* result;
        bool codeSent;
    } cases[] = {
        { "", R"({"Result":"OK","PartialPassword":"ignored"})", "OK", false },
        { "", R"({"Result":"Unavailable"})", "Unavailable", false },
        { "123456", R"({"Result":"OK","PartialPassword":"SGFsZg=="})", "OK:SGFsZg==", true },
        { "123456", R"({"Result":"Denied"})", "Denied", true },
    };
    for (const auto& row : cases) {
        ScriptedConnector connector(true);
        connector.answers = { row.answer };
        EXPECT_EQ(connector.PasswordRecovery("ann@example.org", row.code), row.result) << row.answer;
        const Json::Value sent = parsed(connector.sent.at(0));
        EXPECT_EQ(sent["Command"].asString(), "PasswordRecovery2");
        EXPECT_EQ(sent["User"].asString(), "ann@example.org");
        EXPECT_EQ(sent.isMember("RecoveryCode"), row.codeSent) << row.answer;
    }
    EXPECT_NE(
        logText().find("AvServerconnector - Password Recovery2 failed with Error Code: Denied"), std::string::npos);
}

TEST_F(CommandTest, PasswordResetRequestFormSendsTheCodeOnlyWhenGiven)
{
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK"})", R"({"Result":"Denied"})" };
    EXPECT_EQ(connector.PasswordReset("ann@example.org", ""), "OK");
    EXPECT_EQ(connector.PasswordReset("ann@example.org", "654321"), "Denied");
    EXPECT_EQ(connector.sent.at(0),
        std::string("{\"Command\":\"PasswordReset2\",\"User\":\"ann@example.org\",") + kVersionMember + "}\n");
    EXPECT_EQ(connector.sent.at(1),
        std::string("{\"Command\":\"PasswordReset2\",\"ResetCode\":\"654321\",\"User\":\"ann@example.org\",")
            + kVersionMember + "}\n");
}

// ---- UpdateAccount, ConnectivityCheck, UpgradeAccount, SetUserkeys, Unittest_DBExecuteScalar ----

TEST_F(CommandTest, UpdateAccountTrimsTheNamesAndKeepsThemOnlyWhenAccepted)
{
    AvGlobalLibSettings::instance().language = "en";
    signInWithOneKey();
    ScriptedConnector connector(&ring(), true);
    connector.answers = { R"({"Result":"OK"})", R"({"Result":"Denied"})" };

    std::string first = "  Ann ";
    std::string last = " Lee";
    EXPECT_EQ(connector.UpdateAccount(first, last), "OK");
    EXPECT_EQ(first, "Ann");
    EXPECT_EQ(last, "Lee");
    EXPECT_EQ(ring().firstName, "Ann");
    EXPECT_EQ(ring().lastName, "Lee");
    const Json::Value sent = parsed(connector.sent.at(0));
    EXPECT_EQ(sent["Firstname"].asString(), "Ann");
    EXPECT_EQ(sent["Language"].asString(), "en");

    std::string other = " Eve ";
    EXPECT_EQ(connector.UpdateAccount(other, last), "Denied");
    EXPECT_EQ(other, "Eve");
    EXPECT_EQ(ring().firstName, "Ann");
}

TEST_F(CommandTest, ConnectivityCheckIsTrueOnlyForOk)
{
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK"})", R"({"Result":"ok"})", "" };
    EXPECT_TRUE(connector.ConnectivityCheck());
    EXPECT_FALSE(connector.ConnectivityCheck());
    EXPECT_FALSE(connector.ConnectivityCheck());
}

TEST_F(CommandTest, UpgradeAccountSendsOutlookFlagOnlyWithStatistics)
{
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK"})", R"({"Result":"Denied"})" };
    EXPECT_EQ(connector.UpgradeAccount(" Ann@Example.org", "Ann", "Lee"), "OK");
    const std::array<int, 4> stats{ 0, 3, 0, 1 };
    EXPECT_EQ(connector.UpgradeAccount("ann@example.org", "Ann", "Lee", &stats), "Denied");
    EXPECT_EQ(connector.sent.at(0),
        std::string("{\"Command\":\"UpgradeAccount\",\"EMailAddress\":\"ann@example.org\",\"Firstname\":\"Ann\","
                    "\"Lastname\":\"Lee\",")
            + kVersionMember + "}\n");
    EXPECT_EQ(parsed(connector.sent.at(1))["HasOutlook"].asInt(), 1);
    EXPECT_NE(logText().find(" Upgrade Account Denied"), std::string::npos);
}

TEST_F(CommandTest, SetUserkeysSendsTheRingsKeysAndActiveKey)
{
    const std::uint64_t active = signInWithOneKey();
    ring().CreateKeyPair();
    ScriptedConnector connector(&ring(), true);
    connector.answers = { R"({"Result":"OK"})" };
    EXPECT_EQ(connector.SetUserkeys(), "OK");
    const Json::Value sent = parsed(connector.sent.at(0));
    EXPECT_EQ(sent["ActiveKey"].asString(), keyIdToText(active));
    EXPECT_EQ(sent["Userkeys"], ring().ExportKeys().value());
}

TEST_F(CommandTest, DbExecuteScalarGivesTheScalarOnlyForOk)
{
    ScriptedConnector connector(true);
    connector.answers = { R"({"Result":"OK","SqlResult":"42"})", R"({"Result":"Error","SqlResult":"42"})" };
    EXPECT_EQ(connector.DBExecuteScalar("SELECT 42"), "42");
    EXPECT_EQ(connector.DBExecuteScalar("SELECT 42"), "Error");
    EXPECT_EQ(parsed(connector.sent.at(0))["Sql"].asString(), "SELECT 42");
}

TEST_F(CommandTest, KeyRingCommandsNeedABoundKeyRing)
{
    ScriptedConnector connector(true);
    EXPECT_EQ(connector.Authenticate(), "Error");
    EXPECT_EQ(connector.GetUserkeys(), "Error");
    EXPECT_EQ(connector.ChangePassword(SecureString("x"), true), "Error");
    EXPECT_EQ(connector.GetUserPublicKey("bob@example.org"), "Error");
    EXPECT_EQ(connector.SetUserkeys(), "Error");
    EXPECT_TRUE(connector.sent.empty());
}
