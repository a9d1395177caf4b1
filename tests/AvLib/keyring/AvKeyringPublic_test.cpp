// The public key directory: other users' keys in memory, the cache file
// "Publickeys.pref" and the look-up before sharing.

#include "KeyringTestFixture.h"

#include "keyring/AvSqliteDb.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"

#include <sqlite3.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Stands in for the key server connector: answers the public key look-up
// with a fixed result and counts the calls.
class LookupConnector : public AvKeyringConnector
{
public:
    explicit LookupConnector(int& calls)
        : m_calls(calls)
    {
    }
    void setReportConnectionFailure(bool on) override { m_report = on; }
    bool reportConnectionFailure() const override { return m_report; }
    std::string Authenticate() override { return "OK"; }
    std::string GetUserkeys() override { return "OK"; }
    std::string ChangePassword(const SecureString&, bool) override { return "OK"; }
    std::string GetUserPublicKey(const std::string&) override
    {
        ++m_calls;
        return "Denied";
    }

private:
    int& m_calls;
    bool m_report = true;
};

} // namespace

class KeyringPublicTest : public KeyringTest
{
protected:
    struct CacheRow
    {
        std::string user;
        std::uint64_t keyId = 0;
        std::string key;
    };
    std::vector<CacheRow> readCache() const
    {
        std::vector<CacheRow> rows;
        AvSqliteDb db = AvSqliteDb::open(publicCachePath());
        AvSqliteStatement select = db.prepare("SELECT User, KeyID, Key FROM PubKeys ORDER BY User");
        while (select && select.step() == SQLITE_ROW)
            rows.push_back({ select.columnText(0), static_cast<std::uint64_t>(select.columnInt64(1)),
                base64Decode(select.columnText(2)) });
        return rows;
    }
};

TEST_F(KeyringPublicTest, ImportedKeyIsFoundByIdAndNormalizedName)
{
    const std::string raw = newRawPublicKey();
    ASSERT_TRUE(ring().ImportPublicKey(501, "  Bob@Example.ORG ", raw));

    ASSERT_NE(ring().FindPublicKey(501), nullptr);
    EXPECT_EQ(ring().FindPublicKey(501)->userName, "bob@example.org");
    EXPECT_EQ(ring().ExportPublicKey(501), raw);
    for (const char* name : { "bob@example.org", "BOB@example.org", " bob@example.org  " })
        EXPECT_EQ(ring().FindPublicKeyByUser(name), ring().FindPublicKey(501)) << name;
    EXPECT_EQ(ring().FindPublicKeyByUser("bob@example.com"), nullptr);
    EXPECT_EQ(ring().FindPublicKey(502), nullptr);
}

TEST_F(KeyringPublicTest, KnownIdKeepsItsOwner)
{
    const std::string raw = newRawPublicKey();
    ASSERT_TRUE(ring().ImportPublicKey(501, "bob@example.org", raw));
    EXPECT_TRUE(ring().ImportPublicKey(501, "eve@example.org", newRawPublicKey()));
    EXPECT_EQ(ring().FindPublicKey(501)->userName, "bob@example.org");
    EXPECT_EQ(ring().ExportPublicKey(501), raw);
    EXPECT_NE(logText().find("AvKeyring - - Public key already imported: 501"), std::string::npos);
}

TEST_F(KeyringPublicTest, InvalidKeyBytesAreRefused)
{
    const std::string raw = newRawPublicKey();
    struct Case
    {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        { "empty", std::string() },
        { "exponent only", raw.substr(0, 4) },
        { "even modulus", raw.substr(0, raw.size() - 1) + std::string(1, '\x02') },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ring().ImportPublicKey(600, "bob@example.org", c.bytes));
        EXPECT_EQ(ring().FindPublicKey(600), nullptr);
    }
    EXPECT_NE(logText().find("AvKeyring - - Error importing Public Key with Keyid: 600"), std::string::npos);
}

TEST_F(KeyringPublicTest, NewerKeyOfAUserReplacesTheOlderOne)
{
    ASSERT_TRUE(ring().ImportPublicKey(501, "bob@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().ImportPublicKey(777, "carol@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().ImportPublicKey(502, "Bob@example.org", newRawPublicKey()));

    EXPECT_EQ(ring().FindPublicKey(501), nullptr);
    ASSERT_NE(ring().FindPublicKeyByUser("bob@example.org"), nullptr);
    EXPECT_EQ(ring().FindPublicKeyByUser("bob@example.org")->keyId, 502u);
    EXPECT_NE(ring().FindPublicKey(777), nullptr);
}

TEST_F(KeyringPublicTest, OwnKeyPairsStayWhenTheOwnNameIsImported)
{
    useCredentials("123456", "secret");
    const std::uint64_t own = ring().CreateKeyPair();
    const std::string sealed = ring().ExportPrivateKey(own);
    ring().privateKeys.clear();
    ring().publicKeys.clear();
    ASSERT_TRUE(ring().ImportKey(own, sealed, true)); // public half now owned by "123456"

    ASSERT_TRUE(ring().ImportPublicKey(own + 1, "123456", newRawPublicKey()));
    EXPECT_NE(ring().FindPublicKey(own), nullptr) << "the active key's public half must stay";
    EXPECT_NE(ring().FindPublicKey(own + 1), nullptr);
}

TEST_F(KeyringPublicTest, EmptyNameFindsNoKey)
{
    ring().CreateKeyPair(); // its public half has an empty owner name
    EXPECT_EQ(ring().FindPublicKeyByUser(""), nullptr);
    EXPECT_EQ(ring().FindPublicKeyByUser("   "), nullptr);
}

TEST_F(KeyringPublicTest, CachedKeyLoadsAfterReset)
{
    const std::string raw = newRawPublicKey();
    ASSERT_TRUE(ring().ImportPublicKey(501, "bob@example.org", raw));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(501)));

    ring().Reset();
    AvKeyPublic* loaded = ring().LoadPublicKey("bob@example.org");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->keyId, 501u);
    EXPECT_EQ(loaded->userName, "bob@example.org");
    EXPECT_EQ(ring().ExportPublicKey(501), raw);
}

TEST_F(KeyringPublicTest, CacheIsQueriedWithTheNameAsGiven)
{
    ASSERT_TRUE(ring().ImportPublicKey(501, "bob@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(501)));
    ring().Reset();

    struct Case
    {
        const char* name;
        bool found;
    };
    for (const Case c :
        { Case{ "Bob@example.org", false }, Case{ " bob@example.org", false }, Case{ "bob@example.org", true } }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ring().LoadPublicKey(c.name) != nullptr, c.found);
    }
}

TEST_F(KeyringPublicTest, NewKeyUpdatesTheUsersCacheRowInPlace)
{
    const std::string newer = newRawPublicKey();
    ASSERT_TRUE(ring().ImportPublicKey(501, "bob@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(501)));
    ASSERT_TRUE(ring().ImportPublicKey(777, "carol@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(777)));
    ASSERT_TRUE(ring().ImportPublicKey(502, "bob@example.org", newer));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(502)));

    const auto rows = readCache();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].user, "bob@example.org");
    EXPECT_EQ(rows[0].keyId, 502u);
    EXPECT_EQ(rows[0].key, newer);
    EXPECT_EQ(rows[1].user, "carol@example.org");
}

TEST_F(KeyringPublicTest, NamesWithQuotesAreStoredAsData)
{
    const std::string name = "o'brien@example.org";
    ASSERT_TRUE(ring().ImportPublicKey(501, name, newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(501)));
    ASSERT_TRUE(ring().ImportPublicKey(502, "x' OR '1'='1", newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(502)));
    ASSERT_EQ(readCache().size(), 2u);

    ring().Reset();
    ASSERT_NE(ring().LoadPublicKey(name), nullptr);
    EXPECT_EQ(ring().FindPublicKeyByUser(name)->keyId, 501u);
    EXPECT_EQ(ring().LoadPublicKey("nobody' OR '1'='1"), nullptr);
}

TEST_F(KeyringPublicTest, SavingAKeyNotInTheRingFails)
{
    AvKeyPublic stranger;
    stranger.keyId = 999;
    stranger.userName = "stranger@example.org";
    EXPECT_FALSE(ring().SavePubKey(stranger));
    EXPECT_TRUE(readCache().empty());
}

TEST_F(KeyringPublicTest, LoadingWithoutACacheFileCreatesNone)
{
    EXPECT_EQ(ring().LoadPublicKey("bob@example.org"), nullptr);
    EXPECT_FALSE(fs::exists(publicCachePath()));
}

TEST_F(KeyringPublicTest, LookupWithoutKeyServerAnswersFromMemoryAndCache)
{
    ASSERT_TRUE(ring().ImportPublicKey(501, "cached@example.org", newRawPublicKey()));
    ASSERT_TRUE(ring().SavePubKey(*ring().FindPublicKey(501)));
    const std::string inMemory = newRawPublicKey();

    struct Case
    {
        const char* name;
        bool offline;
        const char* result;
    };
    const Case cases[] = {
        { "inmemory@example.org", false, "OK" },
        { "cached@example.org", false, "OK_FromCache" },
        { "cached@example.org", true, "OK_FromCache" },
        { "unknown@example.org", false, "UnknownHostException" },
        { "unknown@example.org", true, "Error" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.offline ? " offline" : " online"));
        ring().Reset();
        ASSERT_TRUE(ring().ImportPublicKey(601, "inmemory@example.org", inMemory));
        AvGlobalLibSettings::instance().offlineMode = c.offline;
        EXPECT_EQ(ring().LookupPublicKey(c.name), c.result);
        if (std::string(c.result).rfind("OK", 0) == 0) {
            EXPECT_NE(ring().FindPublicKeyByUser(c.name), nullptr);
        }
    }
}

TEST_F(KeyringPublicTest, LookupAsksTheConnectorOnlyForUnknownUsers)
{
    int calls = 0;
    ring().setConnectorFactory([&calls](AvKeyring&) { return std::make_unique<LookupConnector>(calls); });
    ASSERT_TRUE(ring().ImportPublicKey(601, "known@example.org", newRawPublicKey()));

    EXPECT_EQ(ring().LookupPublicKey("known@example.org"), "OK");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(ring().LookupPublicKey("other@example.org"), "Denied");
    EXPECT_EQ(calls, 1);
}
