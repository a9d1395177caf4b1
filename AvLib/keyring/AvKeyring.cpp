#include "keyring/AvKeyring.h"

#include "crypto/AvEncrypt.h"
#include "log/AvLog.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <cryptopp/secblock.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Password of keys that were stored before their owner had one; such rows
// open under any account password and are re-sealed by the next SaveKey.
constexpr const char* kFallbackPhrase = "fallback_phrase";

// A private key's raw form is at most this long; sealing adds a 10-byte
// header and up to 15 filler bytes.
constexpr std::uint32_t kMaxPrivateRawSize = 1000;
constexpr std::uint32_t kSealedKeyCapacity = kMaxPrivateRawSize + kSealHeaderSize + 16;
constexpr std::uint32_t kMinPublicCapacity = 500;

constexpr int kLocalIdMinimum = 100001;
constexpr int kLocalIdAttempts = 1000;

const char* const kCreatePKeys = "CREATE TABLE PKeys(KeyID INTEGER, Key, ActiveKey, PRIMARY KEY(KeyID ASC));";
const char* const kCreatePwRec = "CREATE TABLE PwRec(PartialPassword);";
const char* const kCreateInfo = "CREATE TABLE Info(Key TEXT, Value TEXT, PRIMARY KEY(Key ASC));";
const char* const kCreatePubKeys = "CREATE TABLE PubKeys(User, KeyID INTEGER, Key, PRIMARY KEY(User ASC));";

std::uint32_t lowWord(std::uint64_t keyId)
{
    return static_cast<std::uint32_t>(keyId & 0xFFFFFFFFu);
}

std::uint32_t highWord(std::uint64_t keyId)
{
    return static_cast<std::uint32_t>(keyId >> 32);
}

// Key ids are unsigned; SQLite stores 64-bit signed integers. The cast is
// exact both ways, so every id round-trips.
std::int64_t toSqlId(std::uint64_t keyId)
{
    return static_cast<std::int64_t>(keyId);
}

std::uint64_t fromSqlId(std::int64_t value)
{
    return static_cast<std::uint64_t>(value);
}

// CREATE TABLE answers 1 (SQLITE_ERROR) when the table is already there.
bool tableIsReady(int rc)
{
    return rc == SQLITE_OK || rc == SQLITE_ERROR;
}

bool fileIsReadable(const std::string& path)
{
    std::ifstream probe(path, std::ios::binary);
    return static_cast<bool>(probe);
}

// A key id for a new key that is not already taken in `keys` and is not one
// of the "no key" markers.
template <class Map>
std::uint64_t unusedKeyId(const Map& keys)
{
    std::uint64_t keyId = 0;
    do {
        keyId = NewKeyId();
    } while (keyId == 0 || keys.count(keyId) != 0);
    return keyId;
}

void wipe(std::uint8_t* buffer, std::uint32_t length)
{
    if (buffer && length)
        AvSecurity::secureWipe(buffer, length);
}

std::string bytesToString(const std::uint8_t* bytes, std::uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

// The results of "Authenticate3" that end an unlock at once.
bool endsUnlock(const std::string& result)
{
    return result == "Denied" || result == "CheckEmailValCode" || result == "CompleteNewAccountData"
        || result == "UnknownHostException";
}

} // namespace

AvKeyring& AvKeyring::instance()
{
    static AvKeyring keyring;
    return keyring;
}

AvKeyring::AvKeyring()
{
    Reset();
}

AvKeyring::~AvKeyring() = default;

void AvKeyring::Reset()
{
    firstName.clear();
    lastName.clear();
    usePasswordRecovery = true;
    unlocked = false;
    credentials.reset();
    privateKeys.clear();
    publicKeys.clear();
    fileKeys.clear();
    activeCryptKeyID = 0;
    connector = m_connectorFactory ? m_connectorFactory(*this) : nullptr;
    if (connector)
        connector->setReportConnectionFailure(true);
}

void AvKeyring::setConnectorFactory(ConnectorFactory factory)
{
    m_connectorFactory = std::move(factory);
    connector = m_connectorFactory ? m_connectorFactory(*this) : nullptr;
    if (connector)
        connector->setReportConnectionFailure(true);
}

std::string AvKeyring::userName() const
{
    return credentials ? credentials->userName() : std::string();
}

std::string AvKeyring::userId() const
{
    return credentials ? credentials->userId() : std::string();
}

// ---------------------------------------------------------------------------
// Key-ring file

AvSqliteDb AvKeyring::openPrivateKeyDB(bool create, const std::string& name)
{
    AvGlobalLibSettings& settings = AvGlobalLibSettings::instance();
    const std::string dataFolder = settings.dataFolderPath();
    if (dataFolder.empty())
        return {};
    // Without a name the file would be "Keys/.avltkey", shared by nobody in particular.
    const std::string user = name.empty() ? userName() : name;
    if (user.empty())
        return {};

    const std::string keysFolder = dataFolder + "Keys";
    std::error_code error;
    if (!fs::exists(keysFolder, error)) {
        if (!fs::create_directory(keysFolder, error) || error) {
            AV_LOG(AvLog::Error) << "Catch: create_dir " << keysFolder;
        }
    }

    const std::string path = settings.keyRingFilePath(user);
    if (!create && !fileIsReadable(path))
        return {};

    AvSqliteDb db = AvSqliteDb::open(path);
    if (!db)
        return {};
    const int rc = db.exec(kCreatePKeys);
    if (!tableIsReady(rc)) {
        if (!db.errorText().empty()) {
            AV_LOG(AvLog::Error) << "AvKeyring - - openPrivateKeyDB.Failed with ErrorCode: " << db.errorText();
        }
        return {};
    }
    if (!tableIsReady(db.exec(kCreatePwRec)) || !tableIsReady(db.exec(kCreateInfo)))
        return {};
    return db;
}

int AvKeyring::LoadKeys()
{
    AvSqliteDb db = openPrivateKeyDB(false);
    if (!db)
        return 0;
    AvSqliteStatement select = db.prepare("SELECT KeyID, Key, ActiveKey FROM PKeys");
    if (!select) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.LoadKeys.Select.Failed";
        return 0;
    }

    int count = 0;
    while (select.step() == SQLITE_ROW) {
        const std::uint64_t keyId = fromSqlId(select.columnInt64(0));
        const std::string sealedKey = base64Decode(select.columnText(1));
        const int active = select.columnInt(2);
        if (privateKeys.count(keyId) == 0 && !ImportKey(keyId, sealedKey, false)) {
            AV_LOG(AvLog::Warning) << "AvKeyring - - LoadKeys Keyimport Denied on Keyid: " << keyId;
            continue;
        }
        if (active == 1)
            activeCryptKeyID = keyId;
        ++count;
    }
    return count;
}

bool AvKeyring::writeKeyRow(AvSqliteDb& db, std::uint64_t keyId, const std::string& sealedText, bool active)
{
    AvSqliteStatement insert = db.prepare("INSERT INTO PKeys (KeyID, Key, ActiveKey) VALUES (?1,?2,?3)");
    insert.bind(1, toSqlId(keyId));
    insert.bind(2, sealedText);
    insert.bind(3, std::int64_t{ active ? 1 : 0 });
    const int rc = insert.run();
    if (rc == SQLITE_OK)
        return true;
    if (rc != SQLITE_CONSTRAINT)
        return false;

    // The row exists: replace its key and active flag.
    AvSqliteStatement update = db.prepare("UPDATE PKeys SET Key=?2, ActiveKey=?3 WHERE KeyID=?1");
    update.bind(1, toSqlId(keyId));
    update.bind(2, sealedText);
    update.bind(3, std::int64_t{ active ? 1 : 0 });
    if (update.run() == SQLITE_OK)
        return true;
    const std::string text = update ? update.errorText() : db.errorText();
    if (!text.empty()) {
        AV_LOG(AvLog::Error) << "AvKeyring - SaveKey.Failed on Update with ErrorCode: " << text;
    }
    return false;
}

void AvKeyring::writeInfoRows(AvSqliteDb& db)
{
    std::vector<std::pair<const char*, std::string>> rows = { { "UserID", userId() }, { "Username", userName() } };
    if (!firstName.empty())
        rows.emplace_back("Firstname", firstName);
    if (!lastName.empty())
        rows.emplace_back("Lastname", lastName);

    // Failures here do not fail the save, but they must not leave the account
    // without its Info rows: the old rows stay unless all new ones went in.
    db.exec("SAVEPOINT info");
    bool written = db.exec("DELETE FROM Info") == SQLITE_OK;
    for (const auto& [key, value] : rows) {
        if (!written)
            break;
        AvSqliteStatement insert = db.prepare("INSERT INTO Info (Key, Value) VALUES(?1,?2)");
        insert.bind(1, std::string_view(key));
        insert.bind(2, base64Encode(value));
        written = insert.run() == SQLITE_OK;
    }
    if (!written)
        db.exec("ROLLBACK TO info");
    db.exec("RELEASE info");
}

bool AvKeyring::SaveKey()
{
    if (!credentials)
        return false;
    AvSqliteDb db = openPrivateKeyDB(true);
    if (!db)
        return false;

    // One transaction: a crash in the middle leaves the file as it was rather
    // than some rows sealed one way and some the other, or keys sealed with
    // a new password beside the recovery half of the old one.
    const bool inTransaction = db.exec("BEGIN IMMEDIATE") == SQLITE_OK;
    bool result = true;
    for (const auto& entry : privateKeys) {
        const std::uint64_t keyId = entry.first;
        const std::string sealedKey = ExportPrivateKey(keyId);
        if (sealedKey.empty()) {
            // Writing an empty key would destroy the stored one.
            AV_LOG(AvLog::Error) << "AvKeyring - - SaveKey.SealFailed on Keyid: " << keyId;
            result = false;
            continue;
        }
        if (!writeKeyRow(db, keyId, base64Encode(sealedKey), keyId == activeCryptKeyID))
            result = false;
    }
    writeInfoRows(db);
    // A recovery row that cannot be written leaves the old one, as on its own.
    db.exec("SAVEPOINT recovery");
    std::string recoveryError;
    if (!writePasswordRecovery(db, recoveryError)) {
        db.exec("ROLLBACK TO recovery");
        if (!recoveryError.empty()) {
            AV_LOG(AvLog::Error) << "AvKeyring - - UsePasswordRecovery.Failed with ErrorCode: " << recoveryError;
        }
    }
    db.exec("RELEASE recovery");
    if (inTransaction && db.exec("COMMIT") != SQLITE_OK) {
        db.exec("ROLLBACK");
        result = false;
    }
    return result;
}

void AvKeyring::UsePasswordRecovery(bool on)
{
    usePasswordRecovery = on;
    AvSqliteDb db = openPrivateKeyDB(true);
    if (!db)
        return;

    // The old row stays unless the new one is written: a failed insert must
    // not silently switch recovery off.
    const bool inTransaction = db.exec("BEGIN IMMEDIATE") == SQLITE_OK;
    std::string errorText;
    const bool written = writePasswordRecovery(db, errorText);
    if (written && (!inTransaction || db.exec("COMMIT") == SQLITE_OK))
        return;
    if (written)
        errorText = db.errorText();
    if (inTransaction)
        db.exec("ROLLBACK");
    if (!errorText.empty()) {
        AV_LOG(AvLog::Error) << "AvKeyring - - UsePasswordRecovery.Failed with ErrorCode: " << errorText;
    }
}

bool AvKeyring::writePasswordRecovery(AvSqliteDb& db, std::string& errorText)
{
    int rc = db.exec("DELETE FROM PwRec");
    errorText = db.errorText();
    if (rc == SQLITE_OK && usePasswordRecovery) {
        const std::string partialPassword = credentials ? credentials->partialPasswordText() : std::string();
        if (partialPassword.empty()) {
            rc = SQLITE_MISUSE;
            errorText = "no partial password";
        } else {
            AvSqliteStatement insert = db.prepare("INSERT INTO PwRec (PartialPassword) VALUES (?1)");
            insert.bind(1, partialPassword);
            rc = insert.run();
            errorText = insert ? insert.errorText() : db.errorText();
        }
    }
    return rc == SQLITE_OK;
}

// ---------------------------------------------------------------------------
// Private keys

bool AvKeyring::openSealedKey(std::uint64_t keyId, SecureString& buffer)
{
    if (!credentials || buffer.size() < kSealHeaderSize)
        return false;
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    if (OpenBlock(lowWord(keyId), highWord(keyId), bytes, length, credentials->aesKey())) {
        buffer.resize(length);
        return true;
    }
    // OpenBlock left the buffer as it was, so the fallback gets the original.
    AvCredentials fallback(userName(), SecureString(kFallbackPhrase), 0);
    if (OpenBlock(lowWord(keyId), highWord(keyId), bytes, length, fallback.aesKey())) {
        buffer.resize(length);
        return true;
    }
    return false;
}

bool AvKeyring::ImportKey(std::uint64_t keyId, std::string_view sealedKey, bool makeActive)
{
    if (privateKeys.count(keyId) != 0) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Private key already imported";
        return true;
    }

    // Working copy in a buffer that wipes itself when it goes, whatever happens.
    SecureString opened(sealedKey.data(), sealedKey.size());
    if (!openSealedKey(keyId, opened)) {
        AV_LOG(AvLog::Warning) << "AvKeyring - - Keyring.ImportKey.UnlockDenied, KeyID: " << keyId;
        return false;
    }

    AvKeyPrivate privateKey;
    privateKey.keyId = keyId;
    AvKeyPublic publicKey;
    if (!privateKey.fromRaw(reinterpret_cast<const std::uint8_t*>(opened.data()),
            static_cast<std::uint32_t>(opened.size()), publicKey)) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.ImportKey.Failed, KeyID: " << keyId;
        return false;
    }

    publicKey.keyId = keyId;
    publicKey.userName = userName();
    privateKeys.emplace(keyId, std::move(privateKey));
    publicKeys.emplace(keyId, std::move(publicKey));
    if (makeActive)
        activeCryptKeyID = keyId;
    return true;
}

bool AvKeyring::ImportPrivateKey(const Json::Value& keyList, std::uint64_t activeKeyId)
{
    try {
        if (keyList.isArray()) {
            for (const Json::Value& entry : keyList) {
                if (!entry.isObject())
                    continue;
                const Json::Value& idField = entry["KeyID"];
                std::uint64_t keyId = 0;
                // An id that is not a decimal text names no key.
                if (!idField.isString() || !textToKeyId(idField.asString(), keyId))
                    continue;
                if (privateKeys.count(keyId) != 0)
                    continue;
                const Json::Value& keyField = entry["PrivateKey"];
                const std::string sealedKey = keyField.isString() ? base64Decode(keyField.asString()) : std::string();
                ImportKey(keyId, sealedKey, false);
            }
        }
    } catch (const std::exception&) {
        // jsoncpp refused an access; the keys imported so far stay.
    }

    if (activeKeyId == 0)
        return false;
    if (privateKeys.count(activeKeyId) != 0) {
        activeCryptKeyID = activeKeyId;
        return true;
    }
    AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.ImportPrivateKey.ActiveKeyInvalid with Keyid: " << activeKeyId;
    return false;
}

std::string AvKeyring::ExportPrivateKey(std::uint64_t keyId, const AvCredentials* otherCredentials)
{
    const AvCredentials* sealer = otherCredentials ? otherCredentials : credentials.get();
    const auto it = privateKeys.find(keyId);
    if (!sealer || it == privateKeys.end())
        return {};

    CryptoPP::SecByteBlock buffer(kSealedKeyCapacity);
    std::uint32_t length = kMaxPrivateRawSize;
    if (!it->second.toRaw(buffer.data(), length))
        return {};
    // A copy of the sealing key: sealing restarts its keystream, and the
    // caller's credentials stay untouched.
    AvAesRecord sealingKey = sealer->aesKey();
    if (!SealBlock(lowWord(keyId), highWord(keyId), buffer.data(), length, kSealedKeyCapacity, sealingKey))
        return {};
    return bytesToString(buffer.data(), length);
}

std::string AvKeyring::ExportPublicKey(std::uint64_t keyId) const
{
    const auto it = publicKeys.find(keyId);
    if (it == publicKeys.end())
        return {};
    std::uint8_t raw[kPublicRawSize];
    std::uint32_t length = sizeof raw;
    if (!it->second.toRaw(raw, length))
        return {};
    return bytesToString(raw, length);
}

std::optional<Json::Value> AvKeyring::ExportKeys(const AvCredentials* otherCredentials)
{
    Json::Value keyList(Json::arrayValue);
    for (const auto& entry : privateKeys) {
        const std::uint64_t keyId = entry.first;
        const std::string sealedKey = ExportPrivateKey(keyId, otherCredentials);
        if (sealedKey.empty()) {
            AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.ExportKeys.Failed on Keyid: " << keyId;
            return std::nullopt;
        }
        Json::Value item(Json::objectValue);
        item["KeyID"] = keyIdToText(keyId);
        item["PrivateKey"] = base64Encode(sealedKey);
        if (keyId == activeCryptKeyID) {
            const std::string publicKey = ExportPublicKey(keyId);
            if (publicKey.empty()) {
                AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.ExportKeys.Failed on Keyid: " << keyId;
                return std::nullopt;
            }
            item["PublicKey"] = base64Encode(publicKey);
        }
        keyList.append(item);
    }
    return keyList;
}

std::uint64_t AvKeyring::CreateKeyPair()
{
    std::uint64_t keyId = 0;
    do {
        keyId = unusedKeyId(privateKeys);
    } while (publicKeys.count(keyId) != 0);
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicKey;
    GenerateKeyPair(privateKey, publicKey);
    privateKeys.emplace(keyId, AvKeyPrivate(keyId, privateKey));
    publicKeys.emplace(keyId, AvKeyPublic(keyId, publicKey));
    return keyId;
}

std::uint64_t AvKeyring::GeneratePrivateKey(const std::string& name, const SecureString& password,
    std::uint8_t* sealedKey, std::uint32_t& sealedLength, std::uint8_t* publicKey, std::uint32_t& publicLength)
{
    const std::uint32_t sealedCapacity = sealedLength;
    const std::uint32_t publicCapacity = publicLength;
    sealedLength = 0;
    publicLength = 0;
    // Checked before the (slow) key generation; the outcome is the same.
    if (!sealedKey || !publicKey || sealedCapacity < kMaxPrivateRawSize || publicCapacity < kMinPublicCapacity) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.GeneratePrivateKey.Buffersize with max. Lenght: "
                             << sealedCapacity;
        return 0;
    }

    std::uint64_t keyId = 0;
    while (keyId == 0)
        keyId = NewKeyId();
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicHalf;
    GenerateKeyPair(privateKey, publicHalf);

    std::uint32_t length = sealedCapacity;
    if (!PrivateToRaw(privateKey, sealedKey, length)) {
        wipe(sealedKey, sealedCapacity);
        AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.GeneratePrivateKey.ToRawFailed";
        return 0;
    }
    AvCredentials sealer(name, password, 0);
    std::uint32_t publicRawLength = publicCapacity;
    if (!SealBlock(lowWord(keyId), highWord(keyId), sealedKey, length, sealedCapacity, sealer.aesKey())
        || !PublicToRaw(publicHalf, publicKey, publicRawLength)) {
        // Never hand out an unsealed private key as if it were sealed.
        wipe(sealedKey, sealedCapacity);
        AV_LOG(AvLog::Error) << "AvKeyring - - Keyring.GeneratePrivateKey.SealFailed";
        return 0;
    }
    sealedLength = length;
    publicLength = publicRawLength;
    return keyId;
}

AvKeyPrivate* AvKeyring::FindPrivateKey(std::uint64_t keyId)
{
    const auto it = privateKeys.find(keyId);
    return it == privateKeys.end() ? nullptr : &it->second;
}

const AvKeyPrivate* AvKeyring::FindPrivateKey(std::uint64_t keyId) const
{
    const auto it = privateKeys.find(keyId);
    return it == privateKeys.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// File keys

std::uint64_t AvKeyring::NewFileKey()
{
    const std::uint64_t keyId = unusedKeyId(fileKeys);
    AvKeyAES key(keyId);
    key.generate();
    fileKeys.emplace(keyId, std::move(key));
    return keyId;
}

bool AvKeyring::ImportFileKey(std::uint64_t keyId, std::string_view keyBytes)
{
    if (fileKeys.count(keyId) != 0)
        return true;
    if (keyBytes.size() != AvAesRecord::kRawSize)
        return false;
    AvKeyAES key(keyId);
    if (!key.fromRaw(
            reinterpret_cast<const std::uint8_t*>(keyBytes.data()), static_cast<std::uint32_t>(keyBytes.size())))
        return false;
    fileKeys.emplace(keyId, std::move(key));
    return true;
}

AvKeyAES* AvKeyring::FindFileKey(std::uint64_t keyId)
{
    const auto it = fileKeys.find(keyId);
    return it == fileKeys.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// Public key directory

AvKeyPublic* AvKeyring::FindPublicKey(std::uint64_t keyId)
{
    const auto it = publicKeys.find(keyId);
    return it == publicKeys.end() ? nullptr : &it->second;
}

const AvKeyPublic* AvKeyring::FindPublicKey(std::uint64_t keyId) const
{
    const auto it = publicKeys.find(keyId);
    return it == publicKeys.end() ? nullptr : &it->second;
}

AvKeyPublic* AvKeyring::FindPublicKeyByUser(const std::string& name)
{
    const std::string owner = normalizeUserName(name);
    // A freshly created own key pair has no owner name; an empty name must
    // not find it.
    if (owner.empty())
        return nullptr;
    for (auto& entry : publicKeys) {
        if (entry.second.userName == owner)
            return &entry.second;
    }
    return nullptr;
}

bool AvKeyring::ImportPublicKey(std::uint64_t keyId, const std::string& name, std::string_view rawKey)
{
    if (publicKeys.count(keyId) != 0) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Public key already imported: " << keyId;
        return true;
    }
    AvKeyPublic key;
    key.keyId = keyId;
    if (!key.fromRaw(reinterpret_cast<const std::uint8_t*>(rawKey.data()), static_cast<std::uint32_t>(rawKey.size()))) {
        AV_LOG(AvLog::Error) << "AvKeyring - - Error importing Public Key with Keyid: " << keyId;
        return false;
    }
    key.userName = normalizeUserName(name);

    // The user's older key goes; the public halves of the account's own
    // private keys stay, or the ring could no longer share files to them.
    if (!key.userName.empty()) {
        std::erase_if(publicKeys, [&](const auto& entry) {
            return entry.second.userName == key.userName && privateKeys.count(entry.first) == 0;
        });
    }
    publicKeys.emplace(keyId, std::move(key));
    return true;
}

AvSqliteDb AvKeyring::openPublicKeyDB(bool create)
{
    const std::string dataFolder = AvGlobalLibSettings::instance().dataFolderPath();
    if (dataFolder.empty())
        return {};
    const std::string path = dataFolder + "Publickeys.pref";
    if (!create && !fileIsReadable(path))
        return {};
    AvSqliteDb db = AvSqliteDb::open(path);
    if (!db)
        return {};
    if (!tableIsReady(db.exec(kCreatePubKeys))) {
        if (!db.errorText().empty()) {
            AV_LOG(AvLog::Error) << "AvKeyring - - openPublicKeyDB.Failed with ErrorCode: " << db.errorText();
        }
        return {};
    }
    return db;
}

AvKeyPublic* AvKeyring::LoadPublicKey(const std::string& name)
{
    AvSqliteDb db = openPublicKeyDB(false);
    if (!db)
        return nullptr;
    AvSqliteStatement select = db.prepare("SELECT KeyID, Key FROM PubKeys WHERE User=?1");
    if (!select) {
        AV_LOG(AvLog::Error) << "AvKeyring - Keyring.LoadPublicKey failed.";
        return nullptr;
    }
    select.bind(1, name);
    bool imported = false;
    if (select.step() == SQLITE_ROW) {
        const std::uint64_t keyId = fromSqlId(select.columnInt64(0));
        const std::string rawKey = base64Decode(select.columnText(1));
        imported = ImportPublicKey(keyId, name, rawKey);
    }
    select = AvSqliteStatement();
    db.close();
    return imported ? FindPublicKeyByUser(name) : nullptr;
}

bool AvKeyring::SavePubKey(const AvKeyPublic& key)
{
    AvSqliteDb db = openPublicKeyDB(true);
    if (!db)
        return false;
    const std::string rawKey = ExportPublicKey(key.keyId);
    if (rawKey.empty())
        return false;
    const std::string keyText = base64Encode(rawKey);

    AvSqliteStatement insert = db.prepare("INSERT INTO Pubkeys (User, KeyID, Key) VALUES (?1,?2,?3)");
    insert.bind(1, key.userName);
    insert.bind(2, toSqlId(key.keyId));
    insert.bind(3, keyText);
    const int rc = insert.run();
    if (rc == SQLITE_OK)
        return true;

    if (rc == SQLITE_CONSTRAINT) {
        AvSqliteStatement update = db.prepare("UPDATE Pubkeys SET Key=?3, KeyID=?2 WHERE User=?1");
        update.bind(1, key.userName);
        update.bind(2, toSqlId(key.keyId));
        update.bind(3, keyText);
        if (update.run() == SQLITE_OK)
            return true;
        const std::string text = update ? update.errorText() : db.errorText();
        if (!text.empty()) {
            AV_LOG(AvLog::Error) << "SavePubKey.Failed: " << text;
        }
        return false;
    }

    const std::string text = insert ? insert.errorText() : db.errorText();
    if (!text.empty()) {
        AV_LOG(AvLog::Error) << "SavePubKey.Failed2: " << text;
    }
    return false;
}

std::string AvKeyring::LookupPublicKey(const std::string& name)
{
    if (FindPublicKeyByUser(name))
        return "OK";
    if (connector)
        return connector->GetUserPublicKey(name);
    // No key server: answer as "GetUserPublicKey2" does when the server cannot
    // be reached, from the cache file alone.
    if (LoadPublicKey(name))
        return "OK_FromCache";
    return serverUnreachableResult(true);
}

// ---------------------------------------------------------------------------
// Account operations

std::string AvKeyring::serverUnreachableResult(bool reportFailure) const
{
    if (AvGlobalLibSettings::instance().offlineMode)
        return "Error";
    return reportFailure ? "UnknownHostException" : "Error";
}

std::string AvKeyring::Unlock(const AvCredentials& given)
{
    if (unlocked && credentials && given.userName() == credentials->userName()
        && given.serverPasswordText() == credentials->serverPasswordText())
        return "OK";

    // Copied before Reset: `given` may be the ring's own credentials.
    auto copy = std::make_unique<AvCredentials>(given, 0);
    Reset();
    credentials = std::move(copy);
    const bool offline = AvGlobalLibSettings::instance().offlineMode;
    const bool localAccount = isNumericId(userName());

    if (!offline && !localAccount) {
        const bool keysPresent = LoadKeys() > 0;
        std::string result;
        if (connector) {
            // With keys at hand an unreachable server is no reason to refuse.
            if (keysPresent)
                connector->setReportConnectionFailure(false);
            result = connector->Authenticate();
            connector->setReportConnectionFailure(true);
        } else {
            result = serverUnreachableResult(!keysPresent);
        }
        if (endsUnlock(result))
            return result;
        if (result == "RefreshKeys" && connector) {
            connector->GetUserkeys();
            SaveKey();
        }
    }

    const int count = LoadKeys();
    if (count > 0) {
        unlocked = true;
        return "OK";
    }
    if (offline && !localAccount)
        return "Offlinemode";
    return "Denied";
}

std::string AvKeyring::UnlockWithPassword(const std::string& name, const SecureString& password, int autoLogin)
{
    const AvCredentials given(name, password, autoLogin);
    return Unlock(given);
}

int AvKeyring::AccountKind() const
{
    if (!unlocked)
        return NotUnlocked;
    return isNumericId(userName()) ? LocalAccount : ServerAccount;
}

std::string AvKeyring::CreateLocalAccount(const SecureString& password)
{
    Reset();
    AvGlobalLibSettings& settings = AvGlobalLibSettings::instance();
    std::string accountId;
    for (int attempt = 0; attempt < kLocalIdAttempts && accountId.empty(); ++attempt) {
        const std::uint32_t number = static_cast<std::uint32_t>(NewKeyId() & 0xFFFFFFFFu);
        if (number < kLocalIdMinimum)
            continue;
        const std::string candidate = std::to_string(number).substr(0, 6);
        // A drawn id that already has a key-ring file belongs to another local
        // account; writing into it would overwrite that account's recovery row.
        std::error_code error;
        if (!fs::exists(settings.keyRingFilePath(candidate), error))
            accountId = candidate;
    }
    if (accountId.empty())
        return {};

    credentials = std::make_unique<AvCredentials>(accountId, password, 0);
    activeCryptKeyID = CreateKeyPair();
    SaveKey();
    return UnlockWithPassword(accountId, password) == "OK" ? accountId : std::string();
}

std::string AvKeyring::ChangePassword(
    const SecureString& oldPassword, const SecureString& newPassword, bool passwordRecovery)
{
    if (!unlocked || !credentials)
        return "Denied";
    const AvCredentials oldCredentials(userName(), oldPassword, 0);
    return ChangePassword(oldCredentials, newPassword, passwordRecovery);
}

std::string AvKeyring::ChangePassword(
    const AvCredentials& givenOldCredentials, const SecureString& newPassword, bool passwordRecovery)
{
    if (!unlocked || !credentials || givenOldCredentials.serverPasswordText() != credentials->serverPasswordText())
        return "Denied";
    // Kept by value: the caller may have passed the ring's own credentials,
    // which the change replaces.
    const AvCredentials oldCredentials(givenOldCredentials, 0);

    if (AccountKind() != LocalAccount) {
        if (AvGlobalLibSettings::instance().offlineMode)
            return "Offlinemode";
        if (!connector)
            return serverUnreachableResult(true);
        std::string result = connector->GetUserkeys();
        if (result != "OK")
            return result;
        result = connector->ChangePassword(newPassword, passwordRecovery);
        if (result != "OK")
            return result;
    }
    return changePasswordLocally(oldCredentials, newPassword, passwordRecovery);
}

std::string AvKeyring::changePasswordLocally(
    const AvCredentials& oldCredentials, const SecureString& newPassword, bool passwordRecovery)
{
    UsePasswordRecovery(passwordRecovery);
    const std::string name = userName();
    credentials = std::make_unique<AvCredentials>(name, newPassword, 0);
    LoadKeys();
    if (SaveKey())
        return "OK";

    // The keys were not all re-sealed. A local account has no other copy of
    // them, so put the file back under the old password, which still works.
    // A server account's new password is already in effect on the server,
    // which hands out the keys again at the next unlock.
    if (isNumericId(name)) {
        credentials = std::make_unique<AvCredentials>(oldCredentials, 0);
        SaveKey();
    }
    return "Error";
}
