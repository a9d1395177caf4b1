#include "crypto/AvCredentials.h"

#include "AvTempHome.h"
#include "util/AvBase64.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes aesRaw(const AvCredentials& credentials)
{
    Bytes raw(48);
    uint32_t length = 48;
    EXPECT_TRUE(AesToRaw(credentials.aesKey(), raw.data(), length));
    return raw;
}

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Every test starts with no remembered user id and no key server lookup, and
// counts the lookups it makes.
class AvCredentialsTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        createDocumentsFolder();
        AvCredentials::clearUserIdCache();
        AvCredentials::setServerUserIdLookup({});
    }
    void TearDown() override
    {
        AvCredentials::setServerUserIdLookup({});
        AvCredentials::clearUserIdCache();
        AvTempHome::TearDown();
    }

    void installLookup(std::string answer)
    {
        AvCredentials::setServerUserIdLookup([this, answer](const std::string& userName) {
            lookedUp.push_back(userName);
            return answer;
        });
    }

    std::string keyRingPath(const std::string& fileName) const { return dataFolder() + "Keys/" + fileName; }

    // A key-ring file as the key ring writes it, holding only what credentials read.
    void writeKeyRing(const std::string& fileName, const std::string& userId, const std::string& partialPassword)
    {
        fs::create_directories(dataFolder() + "Keys");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(keyRingPath(fileName).c_str(), &db), SQLITE_OK);
        std::string sql = "CREATE TABLE PwRec(PartialPassword);"
                          "CREATE TABLE Info(Key TEXT, Value TEXT, PRIMARY KEY(Key ASC));";
        if (!userId.empty())
            sql += "INSERT INTO Info VALUES('UserID','" + base64Encode(userId) + "');";
        if (!partialPassword.empty())
            sql += "INSERT INTO PwRec VALUES('" + partialPassword + "');";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    std::vector<std::string> lookedUp;
};

} // namespace

// Expected values computed independently with Python's hashlib:
//   python3 -c "import hashlib,base64; pw=b'Correct Horse 7!'; uid=b'123456';
//     d=hashlib.pbkdf2_hmac('sha512', pw, b'QWMT283#'+uid, 1000, 64);
//     s=hashlib.pbkdf2_hmac('sha512', d, b'ZUh4K&9w', 1, 16);
//     m=hashlib.pbkdf2_hmac('sha512', d, b'pRn#%XQB', 1, 48);
//     print(base64.b64encode(s).decode(), base64.b64encode(d[:32]).decode(),
//           base64.b64encode(d[32:]).decode(), m.hex())"
// with the password and user id of each row.
TEST_F(AvCredentialsTest, DerivedValuesMatchAnIndependentDerivation)
{
    struct Case
    {
        const char* userName;
        const char* serverUserId; // answer of the key server lookup
        const char* password;
        const char* userId;
        const char* serverPassword;
        const char* partialPassword;
        const char* secondHalf;
        const char* aesMaterial;
    };
    const Case cases[] = {
        { "123456", "", "Correct Horse 7!", "123456", "hvM39lq5hGavQWQvB/X0Uw==",
            "CqGquwQu1HaYU6s1F0F7vnul/Yr0zuVPlIEyqWdiDF4=", "Qi4Xg1Db7FlHxLIvcImQALf4KktZ/fJf6Kw2x46wWlQ=",
            "66399b7d184e9d094e500d9e68c9f9af6a6ee35f33ab438b74e3dcbc524844c8"
            "d06d45583820404078cefc8e17fc5090" },
        // One changed character of the password changes every derived value.
        { "123456", "", "Correct Horse 8!", "123456", "pIiXpYoHf5hfJe+wxGyYbw==",
            "sTfIo9Sm8xETDxF58USWzKPLgLnVMxdZRvk4cK/YIks=", "3kY97ynL8LVUBLjZUb13+VxJWpnN1JBxDUOpDvIWEtM=",
            "86076454edcd66272ba31ab6806263e5a14a1099f1234f19b8347fac68f96980"
            "c9fb763c30ba0f045e4ae8b0ad6b6fab" },
        { "alice@example.org", "70042", "Correct Horse 7!", "70042", "b4O+pOUs39rl8RxfQQA7hA==",
            "9vsDnlg7QIRduw+Tz5lDIywU/wYP1XwZc8eK+eENMdE=", "1J8Dg2HMw/BsEg1xNvSt1goJbNrBkkV41kZD+M9qlGY=",
            "7d9e8534996358feb3aa4425e801ed18f0e74122b1c663d52d8e85994072161f"
            "8f494bc204d041bb062979f4a10a5124" },
        // No id anywhere: the bare salt prefix (uid = b'').
        { "nobody@example.org", "", "Correct Horse 7!", "", "B57PLd0xdpRUGm3QdMbiUQ==",
            "h0FOnkDXaHAALIupNnFNlXB8uoRl7/MYJTILIpjCRE0=", "627Jys7ENNWu0IN437671A8YZCfpREbmDYy60wZM16M=",
            "d2831250c91d446282a3d21f92836086359976427adf71794dfbea8a13544efc"
            "20cfa9cf8181bf08fc112a079842be35" },
    };
    for (const Case& c : cases) {
        AvCredentials::clearUserIdCache();
        installLookup(c.serverUserId);
        const AvCredentials credentials(c.userName, SecureString(c.password), 0);
        EXPECT_TRUE(credentials.isValid());
        EXPECT_EQ(credentials.userName(), c.userName);
        EXPECT_EQ(credentials.userId(), c.userId) << c.userName;
        EXPECT_EQ(credentials.serverPasswordText(), c.serverPassword) << c.userName << " " << c.password;
        EXPECT_EQ(credentials.partialPasswordText(), c.partialPassword) << c.userName << " " << c.password;
        EXPECT_EQ(credentials.secondHalfText(), c.secondHalf) << c.userName << " " << c.password;
        EXPECT_EQ(hex(aesRaw(credentials)), c.aesMaterial) << c.userName << " " << c.password;
        EXPECT_TRUE(credentials.aesKey().cipher);
    }
}

TEST_F(AvCredentialsTest, TextsHaveTheirFixedLengths)
{
    for (const char* password :
        { "", "a", "Correct Horse 7!", "\xc3\xa4\xc3\xb6\xc3\xbc longer than one block......" }) {
        const AvCredentials credentials("123456", SecureString(password), 0);
        ASSERT_TRUE(credentials.isValid()) << password;
        EXPECT_EQ(credentials.serverPasswordText().size(), 24u);
        EXPECT_TRUE(credentials.serverPasswordText().ends_with("=="));
        EXPECT_EQ(credentials.partialPasswordText().size(), 44u);
        EXPECT_TRUE(credentials.partialPasswordText().ends_with("="));
        EXPECT_EQ(credentials.secondHalfText().size(), 44u);
        EXPECT_TRUE(credentials.secondHalfText().ends_with("="));
    }
}

TEST_F(AvCredentialsTest, NameSpellingDoesNotMatter)
{
    installLookup("70042");
    const AvCredentials typed(" Alice@X.org", SecureString("secret"), 0);
    const AvCredentials lower("alice@x.org ", SecureString("secret"), 0);
    EXPECT_EQ(typed.userName(), "alice@x.org");
    EXPECT_EQ(typed.userId(), "70042");
    EXPECT_EQ(typed.serverPasswordText(), lower.serverPasswordText());
    EXPECT_EQ(typed.partialPasswordText(), lower.partialPasswordText());
    EXPECT_EQ(typed.secondHalfText(), lower.secondHalfText());
    EXPECT_EQ(aesRaw(typed), aesRaw(lower));
    // The key server is asked with the normalized name, and only once.
    EXPECT_EQ(lookedUp, std::vector<std::string>{ "alice@x.org" });
}

TEST_F(AvCredentialsTest, TwoHalvesRebuildTheSameCredentials)
{
    const AvCredentials original("123456", SecureString("Correct Horse 7!"), 0);
    const AvCredentials rebuilt("123456", original.partialPasswordText(), original.secondHalfText(), 1);
    ASSERT_TRUE(rebuilt.isValid());
    EXPECT_EQ(rebuilt.serverPasswordText(), original.serverPasswordText());
    EXPECT_EQ(aesRaw(rebuilt), aesRaw(original));
    EXPECT_EQ(rebuilt.autoLogin(), 1);

    // A private key sealed with the original opens with the rebuilt key.
    AvCredentials sealer = original;
    Bytes block(64, 0);
    const std::string secret = "private key bytes";
    std::copy(secret.begin(), secret.end(), block.begin());
    uint32_t length = static_cast<uint32_t>(secret.size());
    ASSERT_TRUE(SealBlock(1, 2, block.data(), length, 64, sealer.aesKey()));
    AvCredentials opener = rebuilt;
    ASSERT_TRUE(OpenBlock(1, 2, block.data(), length, opener.aesKey()));
    EXPECT_EQ(std::string(block.begin(), block.begin() + length), secret);
}

TEST_F(AvCredentialsTest, HalvesOfTheWrongSizeGiveCredentialsWithoutAKey)
{
    const AvCredentials original("123456", SecureString("pw"), 0);
    const std::string shortHalf = base64Encode(std::string(31, 'x'));
    const std::string longHalf = base64Encode(std::string(33, 'x'));
    const std::pair<std::string, std::string> cases[] = {
        { shortHalf, original.secondHalfText() },
        { original.partialPasswordText(), longHalf },
        { "", original.secondHalfText() },
        { "not base64!", original.secondHalfText() },
    };
    for (const auto& [first, second] : cases) {
        AvCredentials broken("123456", first, second, 0);
        EXPECT_FALSE(broken.isValid()) << first << " / " << second;
        EXPECT_EQ(broken.serverPasswordText(), "");
        EXPECT_EQ(broken.partialPasswordText(), "");
        EXPECT_FALSE(broken.aesKey().hasKey());
        Bytes block(32, 0);
        uint32_t length = 4;
        EXPECT_FALSE(SealBlock(1, 2, block.data(), length, 32, broken.aesKey()));
    }
}

TEST_F(AvCredentialsTest, CopyWithANewFlagKeepsEverythingElse)
{
    installLookup("70042");
    const AvCredentials original("alice@x.org", SecureString("secret"), 0);
    const AvCredentials copy(original, 1);
    EXPECT_EQ(copy.userName(), original.userName());
    EXPECT_EQ(copy.userId(), original.userId());
    EXPECT_EQ(copy.serverPasswordText(), original.serverPasswordText());
    EXPECT_EQ(copy.partialPasswordText(), original.partialPasswordText());
    EXPECT_EQ(aesRaw(copy), aesRaw(original));
    EXPECT_EQ(copy.autoLogin(), 1);
    EXPECT_EQ(copy.loginStats(), (std::array<int, 4>{ 1, 0, 0, 0 }));
    EXPECT_EQ(original.loginStats(), (std::array<int, 4>{ 0, 0, 0, 0 }));
    EXPECT_EQ(lookedUp.size(), 1u); // the copy does not resolve the id again
}

TEST_F(AvCredentialsTest, DerivedKeyConstructorMatchesThePasswordConstructor)
{
    const AvCredentials original("123456", SecureString("Correct Horse 7!"), 0);
    const std::string first = base64Decode(original.partialPasswordText());
    const std::string second = base64Decode(original.secondHalfText());
    const std::string joined = first + second;
    const CryptoPP::SecByteBlock derived(reinterpret_cast<const CryptoPP::byte*>(joined.data()), joined.size());

    const AvCredentials fromKey("123456", derived, 0);
    EXPECT_EQ(fromKey.serverPasswordText(), original.serverPasswordText());
    EXPECT_EQ(aesRaw(fromKey), aesRaw(original));

    const AvCredentials wrongSize("123456", CryptoPP::SecByteBlock(63), 0);
    EXPECT_FALSE(wrongSize.isValid());
}

TEST_F(AvCredentialsTest, DefaultCredentialsAreEmpty)
{
    const AvCredentials empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_EQ(empty.userName(), "");
    EXPECT_EQ(empty.userId(), "");
    EXPECT_EQ(empty.serverPasswordText(), "");
    EXPECT_FALSE(empty.aesKey().hasKey());
}

TEST_F(AvCredentialsTest, NumericNamesAreTheirOwnIdsWithoutTouchingFiles)
{
    installLookup("999");
    for (const char* name : { "123456", " 123 456 ", "42" }) {
        EXPECT_EQ(AvCredentials::ResolveUserId(name), name);
    }
    const AvCredentials credentials(" 654321", SecureString("pw"), 0);
    EXPECT_EQ(credentials.userId(), "654321");
    EXPECT_TRUE(lookedUp.empty());
    EXPECT_FALSE(fs::exists(home() + "/Documents/Ardentvault")) << "no key-ring file was looked for";
}

TEST_F(AvCredentialsTest, ResolveUserIdReadsTheKeyRingFile)
{
    installLookup("should-not-be-asked");
    writeKeyRing("carol_example_org.avltkey", "31337", "");
    EXPECT_EQ(AvCredentials::ResolveUserId("carol@example.org"), "31337");
    EXPECT_TRUE(lookedUp.empty());

    // The answer is remembered for the same name...
    fs::remove(keyRingPath("carol_example_org.avltkey"));
    EXPECT_EQ(AvCredentials::ResolveUserId("carol@example.org"), "31337");
    EXPECT_TRUE(lookedUp.empty());
    // ...but not for another one.
    EXPECT_EQ(AvCredentials::ResolveUserId("dave@example.org"), "should-not-be-asked");
    EXPECT_EQ(lookedUp, std::vector<std::string>{ "dave@example.org" });
}

TEST_F(AvCredentialsTest, ResolveUserIdNeverCreatesAKeyRingFile)
{
    EXPECT_EQ(AvCredentials::ResolveUserId("erin@example.org"), "");
    EXPECT_FALSE(fs::exists(keyRingPath("erin_example_org.avltkey")));

    // Without an id in the file and without a server answer the id stays empty
    // and nothing is remembered.
    writeKeyRing("erin_example_org.avltkey", "", "");
    installLookup("");
    EXPECT_EQ(AvCredentials::ResolveUserId("erin@example.org"), "");
    installLookup("5150");
    EXPECT_EQ(AvCredentials::ResolveUserId("erin@example.org"), "5150");
    EXPECT_EQ(lookedUp.size(), 2u);
}

TEST_F(AvCredentialsTest, ResolveUserIdOfAnEmptyNameIsEmpty)
{
    installLookup("1");
    EXPECT_EQ(AvCredentials::ResolveUserId(""), "");
    EXPECT_EQ(AvCredentials::ResolveUserId("   "), "");
    EXPECT_TRUE(lookedUp.empty());
}

TEST_F(AvCredentialsTest, StoredPartialPasswordReadsTablePwRec)
{
    writeKeyRing("frank_example_org.avltkey", "1", "CqGquwQu1HaYU6s1F0F7vnul/Yr0zuVPlIEyqWdiDF4=");
    writeKeyRing("grace_example_org.avltkey", "2", "");
    EXPECT_EQ(
        AvCredentials::StoredPartialPassword("frank@example.org"), "CqGquwQu1HaYU6s1F0F7vnul/Yr0zuVPlIEyqWdiDF4=");
    EXPECT_EQ(AvCredentials::StoredPartialPassword("grace@example.org"), "");
    EXPECT_EQ(AvCredentials::StoredPartialPassword("heidi@example.org"), "");
    EXPECT_FALSE(fs::exists(keyRingPath("heidi_example_org.avltkey")));
}

TEST_F(AvCredentialsTest, StoredPartialPasswordOfAFileWithoutPwRecIsEmpty)
{
    fs::create_directories(dataFolder() + "Keys");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(keyRingPath("ivan_example_org.avltkey").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Other(x);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(AvCredentials::StoredPartialPassword("ivan@example.org"), "");
}
