// Account operations: local accounts (create, sign out, unlock, change the
// password) and how unlock and password change of a server account use the
// key ring's connector, or behave without one.

#include "KeyringTestFixture.h"

#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

// What the scripted key server answers, and what it was asked.
struct ServerScript
{
    std::string authenticate = "OK";
    std::string userkeys = "OK";
    std::string changePassword = "OK";
    std::function<void()> onGetUserkeys;

    std::vector<std::string> calls;
    bool reportDuringAuthenticate = true;
};

class ScriptedConnector : public AvKeyringConnector
{
public:
    explicit ScriptedConnector(ServerScript& script)
        : m_script(script)
    {
    }
    void setReportConnectionFailure(bool on) override { m_report = on; }
    bool reportConnectionFailure() const override { return m_report; }
    std::string Authenticate() override
    {
        m_script.calls.push_back("Authenticate3");
        m_script.reportDuringAuthenticate = m_report;
        return m_script.authenticate;
    }
    std::string GetUserkeys() override
    {
        m_script.calls.push_back("GetUserkeys2");
        if (m_script.onGetUserkeys)
            m_script.onGetUserkeys();
        return m_script.userkeys;
    }
    std::string ChangePassword(const SecureString&, bool) override
    {
        m_script.calls.push_back("ChangePassword2");
        return m_script.changePassword;
    }
    std::string GetUserPublicKey(const std::string&) override
    {
        m_script.calls.push_back("GetUserPublicKey2");
        return "Error";
    }

private:
    ServerScript& m_script;
    bool m_report = true;
};

const std::string kServerUser = "alice@example.org";

} // namespace

class KeyringAccountTest : public KeyringTest
{
protected:
    void installServer()
    {
        ring().setConnectorFactory([this](AvKeyring&) { return std::make_unique<ScriptedConnector>(m_server); });
    }

    // Writes a key-ring file for a server account with one active key pair.
    std::uint64_t writeServerAccountFile(const char* password)
    {
        useCredentials(kServerUser, password);
        const std::uint64_t keyId = ring().CreateKeyPair();
        ring().activeCryptKeyID = keyId;
        EXPECT_TRUE(ring().SaveKey());
        ring().Reset();
        return keyId;
    }

    ServerScript m_server;
};

TEST_F(KeyringAccountTest, CreateLocalAccountGivesASixDigitIdAndSignsIn)
{
    const std::string id = ring().CreateLocalAccount(SecureString("local pw"));
    ASSERT_EQ(id.size(), 6u);
    EXPECT_TRUE(isNumericId(id));
    EXPECT_NE(id[0], '0');
    EXPECT_GE(std::stoi(id), 100000);

    EXPECT_TRUE(ring().unlocked);
    EXPECT_EQ(ring().AccountKind(), AvKeyring::LocalAccount);
    EXPECT_EQ(ring().userName(), id);
    EXPECT_EQ(ring().userId(), id);
    ASSERT_NE(ring().activeCryptKeyID, 0u);
    EXPECT_NE(ring().FindPrivateKey(ring().activeCryptKeyID), nullptr);
    EXPECT_TRUE(fs::exists(m_dataFolder + "Keys/" + id + ".avltkey"));

    const auto rows = readKeyRows(id);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].active, 1);
    EXPECT_EQ(readPartialPasswords(id).size(), 1u);
}

TEST_F(KeyringAccountTest, LocalAccountSignsOutAndUnlocksOnlyWithItsPassword)
{
    const std::string id = ring().CreateLocalAccount(SecureString("local pw"));
    ASSERT_FALSE(id.empty());
    const std::uint64_t active = ring().activeCryptKeyID;

    ring().Reset(); // sign out
    EXPECT_EQ(ring().AccountKind(), AvKeyring::NotUnlocked);
    EXPECT_TRUE(ring().privateKeys.empty());

    struct Case
    {
        const char* password;
        const char* result;
        int kind;
    };
    const Case cases[] = {
        { "wrong pw", "Denied", AvKeyring::NotUnlocked },
        { "local pw", "OK", AvKeyring::LocalAccount },
        { "Local pw", "Denied", AvKeyring::NotUnlocked },
        { "", "Denied", AvKeyring::NotUnlocked },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        ring().Reset();
        EXPECT_EQ(ring().UnlockWithPassword(id, SecureString(c.password)), c.result);
        EXPECT_EQ(ring().AccountKind(), c.kind);
        EXPECT_EQ(ring().activeCryptKeyID, c.kind == AvKeyring::LocalAccount ? active : 0u);
    }
}

TEST_F(KeyringAccountTest, UnlockingTwiceWithTheSameCredentialsDoesNotReadTheFile)
{
    const std::string id = ring().CreateLocalAccount(SecureString("local pw"));
    ASSERT_FALSE(id.empty());
    fs::remove(keyRingPath(id));

    EXPECT_EQ(ring().UnlockWithPassword(id, SecureString("local pw")), "OK");
    EXPECT_TRUE(ring().unlocked);
    // Other credentials do read it, and find nothing.
    EXPECT_EQ(ring().UnlockWithPassword(id, SecureString("other pw")), "Denied");
}

TEST_F(KeyringAccountTest, LocalAccountNeverTalksToTheServer)
{
    installServer();
    const std::string id = ring().CreateLocalAccount(SecureString("local pw"));
    ASSERT_FALSE(id.empty());
    ring().Reset();
    EXPECT_EQ(ring().UnlockWithPassword(id, SecureString("local pw")), "OK");
    ring().Reset();
    EXPECT_EQ(ring().UnlockWithPassword(id, SecureString("wrong")), "Denied");
    EXPECT_TRUE(m_server.calls.empty());
}

TEST_F(KeyringAccountTest, ChangePasswordOfALocalAccountResealsItsKeys)
{
    const std::string id = ring().CreateLocalAccount(SecureString("old pw"));
    ASSERT_FALSE(id.empty());
    const std::uint64_t active = ring().activeCryptKeyID;

    EXPECT_EQ(ring().ChangePassword(SecureString("not the old pw"), SecureString("new pw"), true), "Denied");
    AvGlobalLibSettings::instance().offlineMode = true; // a local account needs no server
    EXPECT_EQ(ring().ChangePassword(SecureString("old pw"), SecureString("new pw"), true), "OK");
    EXPECT_TRUE(ring().unlocked);
    EXPECT_EQ(readPartialPasswords(id), std::vector<std::string>{ ring().credentials->partialPasswordText() });

    struct Case
    {
        const char* password;
        const char* result;
    };
    for (const Case c : { Case{ "old pw", "Denied" }, Case{ "new pw", "OK" } }) {
        SCOPED_TRACE(c.password);
        ring().Reset();
        EXPECT_EQ(ring().UnlockWithPassword(id, SecureString(c.password)), c.result);
    }
    EXPECT_EQ(ring().activeCryptKeyID, active);
}

TEST_F(KeyringAccountTest, ChangePasswordWithRecoveryOffEmptiesTheRecoveryRow)
{
    const std::string id = ring().CreateLocalAccount(SecureString("old pw"));
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(ring().ChangePassword(SecureString("old pw"), SecureString("new pw"), false), "OK");
    EXPECT_TRUE(readPartialPasswords(id).empty());
    EXPECT_FALSE(ring().usePasswordRecovery);
}

TEST_F(KeyringAccountTest, ChangePasswordNeedsAnUnlockedRing)
{
    EXPECT_EQ(ring().ChangePassword(SecureString("a"), SecureString("b"), true), "Denied");
    useCredentials("123456", "a");
    EXPECT_EQ(ring().ChangePassword(SecureString("a"), SecureString("b"), true), "Denied");
}

TEST_F(KeyringAccountTest, ChangePasswordReportsAFailedResealAndKeepsTheOldPassword)
{
    const std::string id = ring().CreateLocalAccount(SecureString("old pw"));
    ASSERT_FALSE(id.empty());
    ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());
    const std::uint64_t broken = ring().CreateKeyPair();
    ring().privateKeys[broken] = AvKeyPrivate(); // cannot be sealed

    EXPECT_EQ(ring().ChangePassword(SecureString("old pw"), SecureString("new pw"), true), "Error");
    ring().Reset();
    EXPECT_EQ(ring().UnlockWithPassword(id, SecureString("old pw")), "OK");
    EXPECT_EQ(ring().privateKeys.size(), 2u);
}

TEST_F(KeyringAccountTest, ServerAccountWithoutKeyServer)
{
    struct Case
    {
        const char* what;
        bool withFile;
        bool offline;
        const char* result;
    };
    const Case cases[] = {
        { "file, server unreachable", true, false, "OK" },
        { "no file, server unreachable", false, false, "UnknownHostException" },
        { "file, offline", true, true, "OK" },
        { "no file, offline", false, true, "Offlinemode" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_dataFolder + "Keys");
        AvGlobalLibSettings::instance().offlineMode = false;
        if (c.withFile)
            writeServerAccountFile("server pw");
        ring().Reset();
        AvCredentials::clearUserIdCache();
        AvGlobalLibSettings::instance().offlineMode = c.offline;
        EXPECT_EQ(ring().UnlockWithPassword(kServerUser, SecureString("server pw")), c.result);
        EXPECT_EQ(
            ring().AccountKind(), std::string(c.result) == "OK" ? AvKeyring::ServerAccount : AvKeyring::NotUnlocked);
    }
}

TEST_F(KeyringAccountTest, ServerAnswersThatEndTheUnlockLeaveTheRingLocked)
{
    writeServerAccountFile("server pw");
    installServer();
    for (const char* answer : { "Denied", "CheckEmailValCode", "CompleteNewAccountData", "UnknownHostException" }) {
        SCOPED_TRACE(answer);
        m_server.authenticate = answer;
        ring().Reset();
        EXPECT_EQ(ring().UnlockWithPassword(kServerUser, SecureString("server pw")), answer);
        EXPECT_FALSE(ring().unlocked);
        ASSERT_NE(ring().credentials, nullptr);
        EXPECT_EQ(ring().userName(), kServerUser);
    }
}

TEST_F(KeyringAccountTest, UnlockWithLocalKeysTurnsConnectionFailureReportOffForAuthentication)
{
    const std::uint64_t keyId = writeServerAccountFile("server pw");
    installServer();
    m_server.authenticate = "Error"; // what an unreachable server gives with the report off
    EXPECT_EQ(ring().UnlockWithPassword(kServerUser, SecureString("server pw")), "OK");
    EXPECT_FALSE(m_server.reportDuringAuthenticate);
    EXPECT_TRUE(ring().connector->reportConnectionFailure());
    EXPECT_EQ(ring().activeCryptKeyID, keyId);
    EXPECT_EQ(m_server.calls, std::vector<std::string>{ "Authenticate3" });
}

TEST_F(KeyringAccountTest, RefreshKeysFetchesAndSavesTheServerKeyList)
{
    // The server's key list, sealed with the account's credentials.
    useCredentials(kServerUser, "server pw");
    const std::uint64_t keyId = ring().CreateKeyPair();
    ring().activeCryptKeyID = keyId;
    const Json::Value keyList = *ring().ExportKeys();
    ring().Reset();

    installServer();
    m_server.authenticate = "RefreshKeys";
    m_server.onGetUserkeys = [&] { ring().ImportPrivateKey(keyList, keyId); };
    EXPECT_EQ(ring().UnlockWithPassword(kServerUser, SecureString("server pw")), "OK");
    EXPECT_TRUE(m_server.reportDuringAuthenticate) << "no local keys: an unreachable server is reported";
    EXPECT_EQ(m_server.calls, (std::vector<std::string>{ "Authenticate3", "GetUserkeys2" }));
    EXPECT_EQ(ring().activeCryptKeyID, keyId);

    const auto rows = readKeyRows(kServerUser);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].keyId, keyId);
    EXPECT_EQ(rows[0].active, 1);
}

TEST_F(KeyringAccountTest, ChangePasswordOfAServerAccount)
{
    struct Case
    {
        const char* what;
        bool withServer;
        bool offline;
        const char* userkeys;
        const char* changePassword;
        const char* result;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        { "offline", true, true, "OK", "OK", "Offlinemode", {} },
        { "no key server", false, false, "OK", "OK", "UnknownHostException", {} },
        { "key list refused", true, false, "Denied", "OK", "Denied", { "GetUserkeys2" } },
        { "change refused", true, false, "OK", "Error", "Error", { "GetUserkeys2", "ChangePassword2" } },
        { "accepted", true, false, "OK", "OK", "OK", { "GetUserkeys2", "ChangePassword2" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_dataFolder + "Keys");
        ring().setConnectorFactory({});
        AvGlobalLibSettings::instance().offlineMode = false;
        writeServerAccountFile("old pw");
        ASSERT_EQ(ring().UnlockWithPassword(kServerUser, SecureString("old pw")), "OK");

        m_server = ServerScript();
        m_server.userkeys = c.userkeys;
        m_server.changePassword = c.changePassword;
        if (c.withServer)
            ring().setConnectorFactory([this](AvKeyring&) { return std::make_unique<ScriptedConnector>(m_server); });
        AvGlobalLibSettings::instance().offlineMode = c.offline;

        EXPECT_EQ(ring().ChangePassword(SecureString("old pw"), SecureString("new pw"), true), c.result);
        EXPECT_EQ(m_server.calls, c.calls);

        // Only an accepted change re-seals the key-ring file.
        const std::string sealed = readKeyRows(kServerUser)[0].key;
        const bool resealed = std::string(c.result) == "OK";
        const std::uint64_t keyId = readKeyRows(kServerUser)[0].keyId;
        EXPECT_EQ(opensWith(keyId, base64Decode(sealed), makeCredentials(kServerUser, "new pw")), resealed);
        EXPECT_EQ(opensWith(keyId, base64Decode(sealed), makeCredentials(kServerUser, "old pw")), !resealed);
    }
}
