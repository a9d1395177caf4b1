// The private key store: the key-ring file's tables, sealing and opening of
// private keys, the "Userkeys" list, key pairs generated for the server, and
// file keys.

#include "KeyringTestFixture.h"

#include "crypto/AvEncrypt.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kAccount = "123456";

} // namespace

using KeyringStoreTest = KeyringTest;

TEST_F(KeyringStoreTest, SavingTwiceKeepsOneRowPerKey)
{
    useCredentials(kAccount, "secret one");
    const std::uint64_t first = ring().CreateKeyPair();
    const std::uint64_t second = ring().CreateKeyPair();
    ring().activeCryptKeyID = first;

    ASSERT_TRUE(ring().SaveKey());
    ASSERT_TRUE(ring().SaveKey()); // every insert fails with 19 and becomes an update

    const auto rows = readKeyRows(kAccount);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].keyId, std::min(first, second));
    EXPECT_EQ(rows[1].keyId, std::max(first, second));
}

TEST_F(KeyringStoreTest, ActiveFlagFollowsTheActiveKey)
{
    useCredentials(kAccount, "secret one");
    const std::uint64_t first = ring().CreateKeyPair();
    const std::uint64_t second = ring().CreateKeyPair();

    struct Step
    {
        std::uint64_t active;
    };
    for (const Step step : { Step{ first }, Step{ second }, Step{ first } }) {
        ring().activeCryptKeyID = step.active;
        ASSERT_TRUE(ring().SaveKey());
        for (const auto& row : readKeyRows(kAccount))
            EXPECT_EQ(row.active, row.keyId == step.active ? 1 : 0) << "row " << row.keyId;
    }

    ring().Reset();
    useCredentials(kAccount, "secret one");
    EXPECT_EQ(ring().LoadKeys(), 2);
    EXPECT_EQ(ring().activeCryptKeyID, first);
}

TEST_F(KeyringStoreTest, RowsHoldBase64OfTheSealedKeyBoundToItsId)
{
    useCredentials(kAccount, "secret one");
    const std::uint64_t keyId = ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());

    const auto rows = readKeyRows(kAccount);
    ASSERT_EQ(rows.size(), 1u);
    const std::string sealed = base64Decode(rows[0].key);
    ASSERT_GT(sealed.size(), 10u);
    EXPECT_EQ(sealed[0], 1); // format version, in clear
    EXPECT_EQ((sealed.size() - 10) % 16, 8u); // 8 + n + d is a multiple of 16
    EXPECT_TRUE(opensWith(keyId, sealed, *ring().credentials));
    EXPECT_FALSE(opensWith(keyId + 1, sealed, *ring().credentials));
}

TEST_F(KeyringStoreTest, FallbackSealedRowLoadsAndIsResealedWithTheAccountPassword)
{
    const AvCredentials fallback = makeCredentials(kAccount, "fallback_phrase");
    useCredentials(kAccount, "fallback_phrase");
    const std::uint64_t keyId = ring().CreateKeyPair();
    ring().activeCryptKeyID = keyId;
    ASSERT_TRUE(ring().SaveKey());
    ASSERT_TRUE(opensWith(keyId, base64Decode(readKeyRows(kAccount)[0].key), fallback));

    ring().Reset();
    useCredentials(kAccount, "the real password");
    ASSERT_EQ(ring().LoadKeys(), 1);
    ASSERT_NE(ring().FindPrivateKey(keyId), nullptr);
    ASSERT_TRUE(ring().SaveKey());

    const std::string resealed = base64Decode(readKeyRows(kAccount)[0].key);
    EXPECT_TRUE(opensWith(keyId, resealed, makeCredentials(kAccount, "the real password")));
    EXPECT_FALSE(opensWith(keyId, resealed, fallback));
}

TEST_F(KeyringStoreTest, NamesDifferingOnlyInDotsAndAtsShareOneFile)
{
    struct Case
    {
        std::string saveAs;
        std::string loadAs;
        std::string fileName;
    };
    const Case cases[] = {
        { "a.b@c", "a_b_c", "a_b_c.avltkey" },
        { "x_y_z", "x.y.z", "x_y_z.avltkey" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saveAs);
        ring().Reset();
        useCredentials(c.saveAs, "same password");
        const std::uint64_t keyId = ring().CreateKeyPair();
        ASSERT_TRUE(ring().SaveKey());
        EXPECT_TRUE(fs::exists(m_dataFolder + "Keys/" + c.fileName));
        EXPECT_EQ(keyRingPath(c.saveAs), keyRingPath(c.loadAs));

        ring().Reset();
        useCredentials(c.loadAs, "same password");
        EXPECT_EQ(ring().LoadKeys(), 1);
        EXPECT_NE(ring().FindPrivateKey(keyId), nullptr);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dataFolder + "Keys"), fs::directory_iterator()), 2);
}

TEST_F(KeyringStoreTest, WrongPasswordImportsNothing)
{
    useCredentials(kAccount, "right password");
    ring().activeCryptKeyID = ring().CreateKeyPair();
    ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());

    ring().Reset();
    useCredentials(kAccount, "wrong password");
    EXPECT_EQ(ring().LoadKeys(), 0);
    EXPECT_TRUE(ring().privateKeys.empty());
    EXPECT_TRUE(ring().publicKeys.empty());
    EXPECT_EQ(ring().activeCryptKeyID, 0u);
    EXPECT_NE(logText().find("AvKeyring - - LoadKeys Keyimport Denied on Keyid: "), std::string::npos);
}

TEST_F(KeyringStoreTest, LoadingWithoutAFileReadsNothingAndCreatesNoFile)
{
    useCredentials(kAccount, "secret");
    EXPECT_EQ(ring().LoadKeys(), 0);
    EXPECT_FALSE(fs::exists(keyRingPath(kAccount)));
}

TEST_F(KeyringStoreTest, NoFileIsOpenedWithoutAUserName)
{
    EXPECT_FALSE(ring().openPrivateKeyDB(true));
    EXPECT_FALSE(ring().SaveKey());
    ring().UsePasswordRecovery(true);
    EXPECT_FALSE(fs::exists(m_dataFolder + "Keys/.avltkey"));
}

TEST_F(KeyringStoreTest, DamagedRowIsSkippedAndTheOthersLoad)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t good = ring().CreateKeyPair();
    const std::uint64_t damaged = ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());
    {
        AvSqliteDb db = AvSqliteDb::open(keyRingPath(kAccount));
        AvSqliteStatement update = db.prepare("UPDATE PKeys SET Key='AQ==' WHERE KeyID=?1");
        update.bind(1, static_cast<std::int64_t>(damaged));
        ASSERT_EQ(update.run(), 0);
    }

    ring().Reset();
    useCredentials(kAccount, "secret");
    EXPECT_EQ(ring().LoadKeys(), 1);
    EXPECT_NE(ring().FindPrivateKey(good), nullptr);
    EXPECT_EQ(ring().FindPrivateKey(damaged), nullptr);
}

TEST_F(KeyringStoreTest, KeyThatCannotBeSealedKeepsItsStoredRow)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());
    const std::string storedKey = readKeyRows(kAccount)[0].key;

    ring().privateKeys[keyId] = AvKeyPrivate(); // no usable key material
    EXPECT_FALSE(ring().SaveKey());
    ASSERT_EQ(readKeyRows(kAccount).size(), 1u);
    EXPECT_EQ(readKeyRows(kAccount)[0].key, storedKey);
}

TEST_F(KeyringStoreTest, PasswordRecoveryRowFollowsTheFlag)
{
    struct Case
    {
        bool recovery;
        std::size_t rows;
    };
    for (const Case c : { Case{ true, 1 }, Case{ false, 0 }, Case{ true, 1 } }) {
        SCOPED_TRACE(c.recovery);
        useCredentials(kAccount, "secret");
        ring().usePasswordRecovery = c.recovery;
        ring().CreateKeyPair();
        ASSERT_TRUE(ring().SaveKey());
        const auto rows = readPartialPasswords(kAccount);
        ASSERT_EQ(rows.size(), c.rows);
        if (c.recovery) {
            EXPECT_EQ(rows[0], ring().credentials->partialPasswordText());
            EXPECT_EQ(AvCredentials::StoredPartialPassword(kAccount), rows[0]);
        }
    }
}

TEST_F(KeyringStoreTest, UsePasswordRecoveryRewritesTheRowAtOnce)
{
    useCredentials(kAccount, "secret");
    ring().UsePasswordRecovery(true);
    ring().UsePasswordRecovery(true);
    EXPECT_EQ(readPartialPasswords(kAccount).size(), 1u);
    ring().UsePasswordRecovery(false);
    EXPECT_TRUE(readPartialPasswords(kAccount).empty());
    EXPECT_FALSE(ring().usePasswordRecovery);
}

TEST_F(KeyringStoreTest, InfoRowsHoldIdNameAndNonEmptyNames)
{
    const std::string name = "carol@example.org";
    useCredentials(name, "secret");
    ring().CreateKeyPair();
    ASSERT_TRUE(ring().SaveKey());
    using Rows = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(readInfoRows(name), (Rows{ { "UserID", ring().userId() }, { "Username", name } }));

    ring().firstName = "Carol";
    ring().lastName = "Example";
    ASSERT_TRUE(ring().SaveKey());
    EXPECT_EQ(readInfoRows(name),
        (Rows{ { "Firstname", "Carol" }, { "Lastname", "Example" }, { "UserID", ring().userId() },
            { "Username", name } }));
}

TEST_F(KeyringStoreTest, ImportKeyOfAKnownIdChangesNothing)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    const std::string sealed = ring().ExportPrivateKey(keyId);
    ASSERT_FALSE(sealed.empty());

    EXPECT_TRUE(ring().ImportKey(keyId, sealed, true));
    EXPECT_EQ(ring().activeCryptKeyID, 0u);
    EXPECT_NE(logText().find("AvKeyring - - Private key already imported"), std::string::npos);
}

TEST_F(KeyringStoreTest, ImportKeyAddsBothHalvesUnderTheAccountName)
{
    const std::string name = "dave@example.org";
    useCredentials(name, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    const std::string sealed = ring().ExportPrivateKey(keyId);
    const std::string publicRaw = ring().ExportPublicKey(keyId);
    ring().privateKeys.clear();
    ring().publicKeys.clear();

    ASSERT_TRUE(ring().ImportKey(keyId, sealed, true));
    EXPECT_EQ(ring().activeCryptKeyID, keyId);
    ASSERT_NE(ring().FindPublicKey(keyId), nullptr);
    EXPECT_EQ(ring().FindPublicKey(keyId)->userName, name);
    EXPECT_EQ(ring().ExportPublicKey(keyId), publicRaw);
}

TEST_F(KeyringStoreTest, ImportKeyRefusesWhatDoesNotOpen)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    const std::string sealed = ring().ExportPrivateKey(keyId);
    ring().Reset();
    useCredentials(kAccount, "secret");

    struct Case
    {
        const char* what;
        std::uint64_t keyId;
        std::string bytes;
    };
    const Case cases[] = {
        { "empty", keyId, std::string() },
        { "shorter than the header", keyId, sealed.substr(0, 5) },
        { "another id", keyId ^ 1, sealed },
        { "truncated", keyId, sealed.substr(0, sealed.size() - 16) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ring().ImportKey(c.keyId, c.bytes, true));
        EXPECT_TRUE(ring().privateKeys.empty());
        EXPECT_EQ(ring().activeCryptKeyID, 0u);
    }
}

TEST_F(KeyringStoreTest, ExportedKeyListImportsIntoAFreshRing)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t first = ring().CreateKeyPair();
    const std::uint64_t second = ring().CreateKeyPair();
    ring().activeCryptKeyID = second;
    const auto list = ring().ExportKeys();
    ASSERT_TRUE(list.has_value());
    ASSERT_TRUE(list->isArray());
    ASSERT_EQ(list->size(), 2u);

    // Ascending ids; only the active key's entry carries its public key.
    std::uint64_t previous = 0;
    for (const Json::Value& item : *list) {
        std::uint64_t keyId = 0;
        ASSERT_TRUE(textToKeyId(item["KeyID"].asString(), keyId));
        EXPECT_GT(keyId, previous);
        previous = keyId;
        EXPECT_EQ(item.isMember("PublicKey"), keyId == second);
        if (keyId == second) {
            EXPECT_EQ(base64Decode(item["PublicKey"].asString()), ring().ExportPublicKey(second));
        }
    }
    const std::string firstPublic = ring().ExportPublicKey(first);

    ring().Reset();
    useCredentials(kAccount, "secret");
    EXPECT_TRUE(ring().ImportPrivateKey(*list, second));
    EXPECT_EQ(ring().activeCryptKeyID, second);
    EXPECT_EQ(ring().privateKeys.size(), 2u);
    EXPECT_EQ(ring().ExportPublicKey(first), firstPublic);
}

TEST_F(KeyringStoreTest, ImportPrivateKeyReportsWhetherTheActiveKeyWasSet)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    const std::uint64_t previousActive = ring().CreateKeyPair();
    const std::string sealedPrevious = ring().ExportPrivateKey(previousActive);
    const std::string sealed = base64Encode(ring().ExportPrivateKey(keyId));

    auto listOf = [](const std::string& keyIdText, const std::string& privateKey) {
        Json::Value item(Json::objectValue);
        item["KeyID"] = keyIdText;
        item["PrivateKey"] = privateKey;
        Json::Value list(Json::arrayValue);
        list.append(item);
        return list;
    };

    Json::Value arrayOfNumber(Json::arrayValue);
    arrayOfNumber.append(7);

    struct Case
    {
        const char* what;
        Json::Value list;
        std::uint64_t active;
        bool result;
        bool imported;
    };
    const Case cases[] = {
        { "good list", listOf(keyIdToText(keyId), sealed), keyId, true, true },
        { "active id 0", listOf(keyIdToText(keyId), sealed), 0, false, true },
        { "active id not in the list", listOf(keyIdToText(keyId), sealed), keyId + 1, false, true },
        { "id not a number", listOf("12ab", sealed), keyId, false, false },
        { "id of another key", listOf(keyIdToText(keyId + 1), sealed), keyId, false, false },
        { "not an array", Json::Value("text"), keyId, false, false },
        { "element not an object", arrayOfNumber, keyId, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ring().Reset();
        useCredentials(kAccount, "secret");
        ring().ImportKey(previousActive, sealedPrevious, true);
        ASSERT_EQ(ring().activeCryptKeyID, previousActive);

        EXPECT_EQ(ring().ImportPrivateKey(c.list, c.active), c.result);
        EXPECT_EQ(ring().FindPrivateKey(keyId) != nullptr, c.imported);
        EXPECT_EQ(ring().activeCryptKeyID, c.result ? c.active : previousActive);
    }
    EXPECT_NE(
        logText().find("AvKeyring - - Keyring.ImportPrivateKey.ActiveKeyInvalid with Keyid: " + keyIdToText(keyId + 1)),
        std::string::npos);
}

TEST_F(KeyringStoreTest, ExportKeysSealsWithTheGivenCredentials)
{
    useCredentials(kAccount, "old password");
    const std::uint64_t keyId = ring().CreateKeyPair();
    const AvCredentials other = makeCredentials(kAccount, "new password");

    const auto list = ring().ExportKeys(&other);
    ASSERT_TRUE(list.has_value());
    const std::string sealed = base64Decode((*list)[0]["PrivateKey"].asString());
    EXPECT_TRUE(opensWith(keyId, sealed, other));
    EXPECT_FALSE(opensWith(keyId, sealed, *ring().credentials));
}

TEST_F(KeyringStoreTest, ExportKeysGivesNothingRatherThanAPartialList)
{
    useCredentials(kAccount, "secret");
    ring().CreateKeyPair();
    const std::uint64_t broken = ring().CreateKeyPair();
    ring().privateKeys[broken] = AvKeyPrivate();
    EXPECT_FALSE(ring().ExportKeys().has_value());

    ring().Reset();
    ring().CreateKeyPair();
    EXPECT_FALSE(ring().ExportKeys().has_value()) << "no credentials to seal with";

    ring().Reset();
    useCredentials(kAccount, "secret");
    const auto empty = ring().ExportKeys();
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->isArray());
    EXPECT_EQ(empty->size(), 0u);
}

TEST_F(KeyringStoreTest, ExportOfUnknownIdsIsEmpty)
{
    useCredentials(kAccount, "secret");
    const std::uint64_t keyId = ring().CreateKeyPair();
    EXPECT_TRUE(ring().ExportPrivateKey(keyId + 1).empty());
    EXPECT_TRUE(ring().ExportPublicKey(keyId + 1).empty());
    EXPECT_EQ(ring().ExportPublicKey(keyId).size(), kPublicRawSize);
}

TEST_F(KeyringStoreTest, CreateKeyPairAddsBothHalvesWithoutOwnerAndLeavesTheActiveKey)
{
    const std::uint64_t keyId = ring().CreateKeyPair();
    EXPECT_NE(keyId, 0u);
    EXPECT_LT(keyId, std::uint64_t{ 1 } << 63);
    ASSERT_NE(ring().FindPrivateKey(keyId), nullptr);
    ASSERT_NE(ring().FindPublicKey(keyId), nullptr);
    EXPECT_TRUE(ring().FindPublicKey(keyId)->userName.empty());
    EXPECT_EQ(ring().activeCryptKeyID, 0u);
}

TEST_F(KeyringStoreTest, GeneratePrivateKeyNeedsRoomyBuffers)
{
    struct Case
    {
        std::uint32_t sealedCapacity;
        std::uint32_t publicCapacity;
        bool succeeds;
    };
    const Case cases[] = { { 999, 500, false }, { 1000, 499, false }, { 1000, 500, true } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sealedCapacity);
        std::vector<std::uint8_t> sealed(c.sealedCapacity);
        std::vector<std::uint8_t> publicKey(c.publicCapacity);
        std::uint32_t sealedLength = c.sealedCapacity;
        std::uint32_t publicLength = c.publicCapacity;
        const std::uint64_t keyId = AvKeyring::GeneratePrivateKey(
            kAccount, SecureString("secret"), sealed.data(), sealedLength, publicKey.data(), publicLength);
        if (!c.succeeds) {
            EXPECT_EQ(keyId, 0u);
            EXPECT_EQ(sealedLength, 0u);
            EXPECT_EQ(publicLength, 0u);
            continue;
        }
        ASSERT_NE(keyId, 0u);
        EXPECT_EQ(publicLength, kPublicRawSize);
        const std::string sealedText(reinterpret_cast<const char*>(sealed.data()), sealedLength);
        EXPECT_TRUE(opensWith(keyId, sealedText, makeCredentials(kAccount, "secret")));
        EXPECT_TRUE(ring().privateKeys.empty()) << "the pair is not kept";

        // The sealed key imports under the same credentials and matches the public key.
        useCredentials(kAccount, "secret");
        ASSERT_TRUE(ring().ImportKey(keyId, sealedText, false));
        EXPECT_EQ(
            ring().ExportPublicKey(keyId), std::string(reinterpret_cast<const char*>(publicKey.data()), publicLength));
    }
    EXPECT_NE(
        logText().find("AvKeyring - - Keyring.GeneratePrivateKey.Buffersize with max. Lenght: 999"), std::string::npos);
}

TEST_F(KeyringStoreTest, FileKeysImportOnlyFromTheirRawForm)
{
    struct Case
    {
        std::size_t length;
        bool imported;
    };
    for (const Case c : { Case{ 47, false }, Case{ 48, true }, Case{ 49, false }, Case{ 0, false } }) {
        SCOPED_TRACE(c.length);
        ring().Reset();
        const std::string raw(c.length, '\x5a');
        EXPECT_EQ(ring().ImportFileKey(77, raw), c.imported);
        EXPECT_EQ(ring().FindFileKey(77) != nullptr, c.imported);
        EXPECT_EQ(ring().fileKeys.size(), c.imported ? 1u : 0u);
    }

    // A known id keeps its key.
    ASSERT_TRUE(ring().ImportFileKey(78, std::string(48, '\x01')));
    EXPECT_TRUE(ring().ImportFileKey(78, std::string(48, '\x02')));
    std::uint8_t raw[48];
    std::uint32_t length = sizeof raw;
    ASSERT_TRUE(ring().FindFileKey(78)->toRaw(raw, length));
    EXPECT_EQ(raw[0], 1);
}

TEST_F(KeyringStoreTest, NewFileKeysAreDistinctAndFindable)
{
    const std::uint64_t first = ring().NewFileKey();
    const std::uint64_t second = ring().NewFileKey();
    EXPECT_NE(first, second);
    ASSERT_NE(ring().FindFileKey(first), nullptr);
    ASSERT_NE(ring().FindFileKey(second), nullptr);
    EXPECT_TRUE(ring().FindFileKey(first)->aes.hasKey());
    EXPECT_EQ(ring().FindFileKey(first)->keyId, first);
    EXPECT_EQ(ring().FindFileKey(first + 1 == second ? first + 2 : first + 1), nullptr);
}

TEST_F(KeyringStoreTest, ResetForgetsEverything)
{
    useCredentials(kAccount, "secret");
    ring().activeCryptKeyID = ring().CreateKeyPair();
    ring().NewFileKey();
    ring().firstName = "A";
    ring().lastName = "B";
    ring().unlocked = true;
    ring().usePasswordRecovery = false;

    ring().Reset();
    EXPECT_TRUE(ring().firstName.empty());
    EXPECT_TRUE(ring().lastName.empty());
    EXPECT_TRUE(ring().usePasswordRecovery);
    EXPECT_FALSE(ring().unlocked);
    EXPECT_EQ(ring().credentials, nullptr);
    EXPECT_TRUE(ring().privateKeys.empty());
    EXPECT_TRUE(ring().publicKeys.empty());
    EXPECT_TRUE(ring().fileKeys.empty());
    EXPECT_EQ(ring().activeCryptKeyID, 0u);
    EXPECT_EQ(ring().userName(), "");
    EXPECT_EQ(ring().userId(), "");
}
