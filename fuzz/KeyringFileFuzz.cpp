// Key-ring file: hostile rows in the tables PKeys, PwRec and Info. The input
// is a small row language, so the fuzzer works on rows rather than on
// SQLite's page format (which SQLite itself fuzzes):
//
//   line 1        schema variant (first byte): 0 as written by the program,
//                 1 PKeys without ActiveKey, 2 tables without primary keys
//                 (duplicate ids and duplicate Info keys), 3 PKeys without KeyID
//   other lines   a table letter (P, R or I) and tab-separated fields, each a
//                 type letter and its text: i integer, r real, t text, b blob,
//                 n null, s a raw private key (Base64) that the harness seals
//                 with the test account's credentials under the row's first
//                 field as key id, as a valid key-ring file would hold it
//
// The file is then loaded by the key ring, saved and loaded again, and read
// by the credentials' user id and partial password look-ups. Every key that
// loaded once must load again after the save, each with its public half.

#include "FuzzEnvironment.h"

#include "crypto/AvCredentials.h"
#include "crypto/AvEncrypt.h"
#include "keyring/AvKeyring.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kAddressUser = "fuzz@example.com";

const char* const kSchemas[][3] = {
    { "CREATE TABLE PKeys(KeyID INTEGER, Key, ActiveKey, PRIMARY KEY(KeyID ASC));",
        "CREATE TABLE PwRec(PartialPassword);", "CREATE TABLE Info(Key TEXT, Value TEXT, PRIMARY KEY(Key ASC));" },
    { "CREATE TABLE PKeys(KeyID INTEGER, Key, PRIMARY KEY(KeyID ASC));", "CREATE TABLE PwRec(PartialPassword);",
        "CREATE TABLE Info(Key TEXT, Value TEXT, PRIMARY KEY(Key ASC));" },
    { "CREATE TABLE PKeys(KeyID, Key, ActiveKey);", "CREATE TABLE PwRec(PartialPassword, Extra);",
        "CREATE TABLE Info(Key, Value);" },
    { "CREATE TABLE PKeys(Id INTEGER, Key, ActiveKey);", "CREATE TABLE PwRec(Other);", "CREATE TABLE Info(Key);" },
};

struct Database
{
    sqlite3* db = nullptr;
    ~Database() { sqlite3_close(db); }
};

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

std::uint64_t parseId(std::string_view text)
{
    return std::strtoull(std::string(text).c_str(), nullptr, 10);
}

// The raw private key sealed for `keyId` with the test account's credentials, as Base64.
std::string sealedKeyText(std::string_view rawBase64, std::uint64_t keyId)
{
    std::string block = base64Decode(rawBase64);
    const std::size_t capacity = block.size() + 32;
    block.resize(capacity);
    std::uint32_t length = std::uint32_t(capacity - 32);
    AvKeyring& ring = AvKeyring::instance();
    if (!SealBlock(std::uint32_t(keyId), std::uint32_t(keyId >> 32), reinterpret_cast<std::uint8_t*>(block.data()),
            length, std::uint32_t(capacity), ring.credentials->aesKey()))
        return {};
    block.resize(length);
    return base64Encode(block);
}

void bindField(sqlite3_stmt* statement, int index, std::string_view field, std::uint64_t rowKeyId)
{
    const char type = field.empty() ? 'n' : field.front();
    const std::string value(field.empty() ? field : field.substr(1));
    switch (type) {
    case 'i':
        sqlite3_bind_int64(statement, index, std::int64_t(std::strtoull(value.c_str(), nullptr, 10)));
        break;
    case 'r':
        sqlite3_bind_double(statement, index, std::strtod(value.c_str(), nullptr));
        break;
    case 'b':
        sqlite3_bind_blob(statement, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
        break;
    case 's': {
        const std::string sealed = sealedKeyText(value, rowKeyId);
        sqlite3_bind_text(statement, index, sealed.data(), int(sealed.size()), SQLITE_TRANSIENT);
        break;
    }
    case 't':
        sqlite3_bind_text(statement, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
        break;
    default:
        sqlite3_bind_null(statement, index);
        break;
    }
}

void insertRow(sqlite3* db, std::string_view line)
{
    const char* table = nullptr;
    switch (line.front()) {
    case 'P':
        table = "PKeys";
        break;
    case 'R':
        table = "PwRec";
        break;
    case 'I':
        table = "Info";
        break;
    default:
        return;
    }
    std::vector<std::string_view> fields = split(line.substr(1), '\t');
    if (fields.size() > 8)
        fields.resize(8);
    std::string sql = std::string("INSERT INTO ") + table + " VALUES (?";
    for (std::size_t i = 1; i < fields.size(); ++i)
        sql += ",?";
    sql += ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return; // more values than the table has columns
    }
    const std::uint64_t rowKeyId = fields[0].size() > 1 ? parseId(fields[0].substr(1)) : 0;
    for (std::size_t i = 0; i < fields.size(); ++i)
        bindField(statement, int(i + 1), fields[i], rowKeyId);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
}

bool buildKeyRingFile(const std::string& path, std::string_view input)
{
    std::filesystem::remove(path);
    Database database;
    if (sqlite3_open(path.c_str(), &database.db) != SQLITE_OK)
        return false;
    const std::vector<std::string_view> lines = split(input, '\n');
    const unsigned variant = lines[0].empty() ? 0 : static_cast<unsigned char>(lines[0].front()) % 4;
    for (const char* statement : kSchemas[variant])
        sqlite3_exec(database.db, statement, nullptr, nullptr, nullptr);
    sqlite3_exec(database.db, "BEGIN", nullptr, nullptr, nullptr);
    for (std::size_t i = 1; i < lines.size() && i <= 64; ++i) {
        if (!lines[i].empty())
            insertRow(database.db, lines[i]);
    }
    sqlite3_exec(database.db, "COMMIT", nullptr, nullptr, nullptr);
    return true;
}

// Loads the file into a ring holding only the credentials; the ids it now holds.
std::set<std::uint64_t> loadIntoEmptyRing(int& count)
{
    FuzzEnvironment::instance().resetKeyring();
    AvKeyring& ring = AvKeyring::instance();
    ring.privateKeys.clear();
    ring.publicKeys.clear();
    ring.activeCryptKeyID = 0;
    count = ring.LoadKeys();
    std::set<std::uint64_t> ids;
    for (const auto& [keyId, key] : ring.privateKeys) {
        FUZZ_CHECK(ring.FindPublicKey(keyId) != nullptr);
        ids.insert(keyId);
    }
    FUZZ_CHECK(count >= 0 && std::size_t(count) >= ids.size());
    if (ring.activeCryptKeyID != 0)
        FUZZ_CHECK(ids.count(ring.activeCryptKeyID) == 1);
    return ids;
}

} // namespace

void fuzzOneInput(FuzzInput input)
{
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    FuzzEnvironment::instance().resetKeyring();
    AvGlobalLibSettings& settings = AvGlobalLibSettings::instance();
    const std::string path = settings.keyRingFilePath(FuzzEnvironment::kTestUser);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (!buildKeyRingFile(path, text))
        return;
    std::filesystem::copy_file(
        path, settings.keyRingFilePath(kAddressUser), std::filesystem::copy_options::overwrite_existing);

    // What the credentials read from a key-ring file before any key is opened.
    AvCredentials::clearUserIdCache();
    AvCredentials::ResolveUserId(kAddressUser);
    AvCredentials::StoredPartialPassword(FuzzEnvironment::kTestUser);

    int firstCount = 0;
    const std::set<std::uint64_t> loaded = loadIntoEmptyRing(firstCount);
    AvKeyring& ring = AvKeyring::instance();
    if (!loaded.empty() && ring.SaveKey()) {
        int secondCount = 0;
        const std::set<std::uint64_t> reloaded = loadIntoEmptyRing(secondCount);
        for (const std::uint64_t keyId : loaded)
            FUZZ_CHECK(reloaded.count(keyId) == 1);
    }
    AvCredentials::clearUserIdCache();
}

namespace {

// The rows of a real key-ring file in the harness's row language.
std::string rowsOf(const std::string& path)
{
    Database database;
    FUZZ_CHECK(sqlite3_open(path.c_str(), &database.db) == SQLITE_OK);
    std::string rows(1, '\0');
    rows += '\n';
    const std::pair<char, const char*> tables[] = { { 'P', "SELECT KeyID, Key, ActiveKey FROM PKeys" },
        { 'R', "SELECT PartialPassword FROM PwRec" }, { 'I', "SELECT Key, Value FROM Info" } };
    for (const auto& [letter, query] : tables) {
        sqlite3_stmt* statement = nullptr;
        FUZZ_CHECK(sqlite3_prepare_v2(database.db, query, -1, &statement, nullptr) == SQLITE_OK);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            rows += letter;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const bool integer = sqlite3_column_type(statement, i) == SQLITE_INTEGER;
                const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
                rows += (i > 0 ? "\t" : "") + std::string(integer ? "i" : "t") + (text ? text : "");
            }
            rows += '\n';
        }
        sqlite3_finalize(statement);
    }
    return rows;
}

std::string savedRing(const std::string& path)
{
    std::filesystem::remove(path);
    FUZZ_CHECK(AvKeyring::instance().SaveKey());
    return rowsOf(path);
}

} // namespace

void fuzzMakeSeeds(const std::string& folder)
{
    const FuzzEnvironment& environment = FuzzEnvironment::instance();
    const std::string path = AvGlobalLibSettings::instance().keyRingFilePath(FuzzEnvironment::kTestUser);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    AvKeyring& ring = AvKeyring::instance();
    const auto seed = [&](const std::string& name, const std::string& rows) {
        std::ofstream(folder + name, std::ios::binary) << rows;
    };

    environment.resetKeyring();
    ring.firstName = "Fuzz";
    ring.lastName = "Tester";
    seed("one-key.rows", savedRing(path));

    ring.activeCryptKeyID = ring.CreateKeyPair();
    seed("two-keys.rows", savedRing(path));

    environment.resetKeyring();
    ring.usePasswordRecovery = false;
    seed("no-recovery.rows", savedRing(path));

    // The test key sealed by the harness itself, under its own id and under a wrong one.
    std::string raw(2000, '\0');
    std::uint32_t length = std::uint32_t(raw.size());
    FUZZ_CHECK(
        ring.FindPrivateKey(FuzzEnvironment::kTestKeyId)->toRaw(reinterpret_cast<std::uint8_t*>(raw.data()), length));
    raw.resize(length);
    const std::string id = std::to_string(FuzzEnvironment::kTestKeyId);
    seed("sealed-here.rows",
        std::string("\0\nPi", 4) + id + "\ts" + base64Encode(raw) + "\ti1\nPi7\ts" + base64Encode(raw) + "\ti0\nRt"
            + base64Encode(std::string(32, 'p')) + "\n");

    // Hostile rows: bad Base64, wrong lengths and types, the largest ids, duplicates.
    seed("hostile.rows",
        std::string("\x02\nPi1\ttnot*base64!\ti1\nPi18446744073709551615\tb\x01\x02\tr1.5\nPn\tn\tn\n"
                    "Pi1\tt====\ti1\nPt12ab\ttAAAA\tt1\nRi5\nRt\nIiUserID\tt!!!\nItUserID\tb\xff\xfe\n"
                    "ItUsername\tn\n"));
}
