#include "KeyringTestFixture.h"

#include "crypto/AvEncrypt.h"
#include "keyring/AvSqliteDb.h"
#include "log/AvLog.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"

#include <sqlite3.h>

void KeyringTest::SetUp()
{
    AvTempHome::SetUp();
    m_dataFolder = dataFolder();
    AvGlobalLibSettings::instance().offlineMode = false;
    AvCredentials::clearUserIdCache();
    ring().setConnectorFactory({});
    ring().Reset();

    m_savedLogLevel = AvLog::level();
    AvLog::setLogPath(m_dataFolder + "Ardentvault.log");
    AvLog::setEnabled(true);
    AvLog::setLevel(AvLog::Info);
}

void KeyringTest::TearDown()
{
    ring().setConnectorFactory({});
    ring().Reset();
    AvGlobalLibSettings::instance().offlineMode = false;
    AvCredentials::clearUserIdCache();
    AvLog::setEnabled(false);
    AvLog::setLogPath(std::string());
    AvLog::setLevel(m_savedLogLevel);
    AvTempHome::TearDown();
}

void KeyringTest::useCredentials(const std::string& name, const char* password)
{
    ring().credentials = std::make_unique<AvCredentials>(name, SecureString(password), 0);
}

AvCredentials KeyringTest::makeCredentials(const std::string& name, const char* password)
{
    return AvCredentials(name, SecureString(password), 0);
}

std::string KeyringTest::keyRingPath(const std::string& name)
{
    return AvGlobalLibSettings::instance().keyRingFilePath(name);
}

std::string KeyringTest::publicCachePath() const
{
    return m_dataFolder + "Publickeys.pref";
}

std::string KeyringTest::logText() const
{
    return readWholeFile(m_dataFolder + "Ardentvault.log");
}

std::vector<KeyringTest::KeyRow> KeyringTest::readKeyRows(const std::string& name)
{
    std::vector<KeyRow> rows;
    AvSqliteDb db = AvSqliteDb::open(keyRingPath(name));
    AvSqliteStatement select = db.prepare("SELECT KeyID, Key, ActiveKey FROM PKeys ORDER BY KeyID");
    while (select && select.step() == SQLITE_ROW)
        rows.push_back(
            { static_cast<std::uint64_t>(select.columnInt64(0)), select.columnText(1), select.columnInt(2) });
    return rows;
}

std::vector<std::string> KeyringTest::readPartialPasswords(const std::string& name)
{
    std::vector<std::string> rows;
    AvSqliteDb db = AvSqliteDb::open(keyRingPath(name));
    AvSqliteStatement select = db.prepare("SELECT PartialPassword FROM PwRec");
    while (select && select.step() == SQLITE_ROW)
        rows.push_back(select.columnText(0));
    return rows;
}

std::vector<std::pair<std::string, std::string>> KeyringTest::readInfoRows(const std::string& name)
{
    std::vector<std::pair<std::string, std::string>> rows;
    AvSqliteDb db = AvSqliteDb::open(keyRingPath(name));
    AvSqliteStatement select = db.prepare("SELECT Key, Value FROM Info ORDER BY Key");
    while (select && select.step() == SQLITE_ROW)
        rows.emplace_back(select.columnText(0), base64Decode(select.columnText(1)));
    return rows;
}

bool KeyringTest::opensWith(std::uint64_t keyId, const std::string& sealedKey, const AvCredentials& credentials)
{
    std::string buffer = sealedKey;
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    AvAesRecord key = credentials.aesKey();
    return OpenBlock(static_cast<std::uint32_t>(keyId), static_cast<std::uint32_t>(keyId >> 32),
        reinterpret_cast<std::uint8_t*>(buffer.data()), length, key);
}

std::string KeyringTest::newRawPublicKey()
{
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicKey;
    GenerateKeyPair(privateKey, publicKey);
    std::uint8_t raw[kPublicRawSize];
    std::uint32_t length = sizeof raw;
    if (!PublicToRaw(publicKey, raw, length))
        return {};
    return std::string(reinterpret_cast<const char*>(raw), length);
}
