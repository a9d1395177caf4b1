#include "SqliteAccountStore.h"

#include "util/AvStrings.h"

#include <sqlite3.h>

#include <string_view>

namespace keyserver {

namespace {

// One prepared statement, finalized on scope exit. Binding failures are
// remembered and make step() fail, so callers check one result.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value)
    {
        remember(m_statement ? sqlite3_bind_int64(m_statement, index, value) : SQLITE_ERROR);
        return *this;
    }
    Statement& bindText(int index, std::string_view text)
    {
        remember(m_statement
                ? sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT)
                : SQLITE_ERROR);
        return *this;
    }
    Statement& bindBlob(int index, std::string_view bytes)
    {
        remember(m_statement
                ? sqlite3_bind_blob(m_statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT)
                : SQLITE_ERROR);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step()
    {
        if (!m_statement || m_bindFailed)
            return SQLITE_ERROR;
        return sqlite3_step(m_statement);
    }
    bool run() { return step() == SQLITE_DONE; }

    std::int64_t int64(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::string text(int column) const
    {
        const auto* bytes = sqlite3_column_text(m_statement, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                   static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                     : std::string();
    }
    std::string blob(int column) const
    {
        const void* bytes = sqlite3_column_blob(m_statement, column);
        return bytes ? std::string(
                   static_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                     : std::string();
    }

private:
    void remember(int result)
    {
        if (result != SQLITE_OK)
            m_bindFailed = true;
    }

    sqlite3_stmt* m_statement = nullptr;
    bool m_bindFailed = false;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(sqlite3* db)
        : m_db(db)
    {
        m_open = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool isOpen() const { return m_open; }
    bool commit()
    {
        if (!m_open)
            return false;
        m_open = false;
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

private:
    sqlite3* m_db;
    bool m_open = false;
};

const char* purposeName(CodePurpose purpose)
{
    switch (purpose) {
    case CodePurpose::Verification:
        return "verification";
    case CodePurpose::Recovery:
        return "recovery";
    case CodePurpose::Reset:
        return "reset";
    }
    return "unknown";
}

std::uint64_t keyIdFromText(const std::string& text)
{
    std::uint64_t keyId = 0;
    return textToKeyId(text, keyId) ? keyId : 0;
}

constexpr const char* kAccountColumns =
    "SELECT login_id, email, first_name, last_name, language, verified, verifier_salt, verifier_hash, "
    "verifier_iterations, password_recovery, partial_password, active_key, created_at FROM accounts ";

} // namespace

const std::vector<std::string>& SqliteAccountStore::migrationSteps()
{
    static const std::vector<std::string> steps = {
        // 0 -> 1: accounts and their key lists.
        "CREATE TABLE accounts("
        " login_id INTEGER PRIMARY KEY,"
        " email TEXT NOT NULL UNIQUE,"
        " first_name TEXT NOT NULL DEFAULT '',"
        " last_name TEXT NOT NULL DEFAULT '',"
        " language TEXT NOT NULL DEFAULT '',"
        " verified INTEGER NOT NULL DEFAULT 0,"
        " verifier_salt BLOB,"
        " verifier_hash BLOB,"
        " verifier_iterations INTEGER NOT NULL DEFAULT 0,"
        " password_recovery INTEGER NOT NULL DEFAULT 0,"
        " partial_password TEXT NOT NULL DEFAULT '',"
        " active_key TEXT NOT NULL DEFAULT '0',"
        " created_at INTEGER NOT NULL);"
        "CREATE TABLE account_keys("
        " login_id INTEGER NOT NULL REFERENCES accounts(login_id) ON DELETE CASCADE,"
        " key_id TEXT NOT NULL,"
        " position INTEGER NOT NULL,"
        " private_key TEXT NOT NULL,"
        " public_key TEXT NOT NULL DEFAULT '',"
        " PRIMARY KEY(login_id, key_id));",
        // 1 -> 2: pending codes, kept only as salted hashes.
        "CREATE TABLE pending_codes("
        " login_id INTEGER NOT NULL REFERENCES accounts(login_id) ON DELETE CASCADE,"
        " purpose TEXT NOT NULL,"
        " code_salt BLOB NOT NULL,"
        " code_hash BLOB NOT NULL,"
        " expires_at INTEGER NOT NULL,"
        " wrong_attempts INTEGER NOT NULL DEFAULT 0,"
        " PRIMARY KEY(login_id, purpose));",
    };
    return steps;
}

int SqliteAccountStore::schemaVersion()
{
    return static_cast<int>(migrationSteps().size());
}

std::unique_ptr<SqliteAccountStore> SqliteAccountStore::open(const std::string& path, std::string& error)
{
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SqliteAccountStore> store(new SqliteAccountStore(db));
    if (!store->configure(error) || !store->migrate(error))
        return nullptr;
    return store;
}

SqliteAccountStore::SqliteAccountStore(sqlite3* db)
    : m_db(db)
{
}

SqliteAccountStore::~SqliteAccountStore()
{
    sqlite3_close(m_db);
}

bool SqliteAccountStore::configure(std::string& error)
{
    sqlite3_busy_timeout(m_db, 5000);
    for (const char* pragma : { "PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON" }) {
        if (sqlite3_exec(m_db, pragma, nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = std::string(pragma) + " failed: " + sqlite3_errmsg(m_db);
            return false;
        }
    }
    return true;
}

bool SqliteAccountStore::migrate(std::string& error)
{
    int version = 0;
    {
        Statement query(m_db, "PRAGMA user_version");
        if (query.step() != SQLITE_ROW) {
            error = std::string("cannot read the schema version: ") + sqlite3_errmsg(m_db);
            return false;
        }
        version = static_cast<int>(query.int64(0));
    }
    if (version > schemaVersion()) {
        error = "the database has schema version " + std::to_string(version) + ", newer than this server's "
            + std::to_string(schemaVersion());
        return false;
    }
    for (; version < schemaVersion(); ++version) {
        Transaction transaction(m_db);
        const std::string step =
            migrationSteps()[static_cast<std::size_t>(version)] + "PRAGMA user_version=" + std::to_string(version + 1);
        if (!transaction.isOpen() || sqlite3_exec(m_db, step.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK
            || !transaction.commit()) {
            error = "schema step to version " + std::to_string(version + 1) + " failed: " + sqlite3_errmsg(m_db);
            return false;
        }
    }
    return true;
}

AccountStore::Status SqliteAccountStore::findByEmail(const std::string& email, Account& account)
{
    std::lock_guard lock(m_mutex);
    return findAccount("WHERE email = ?1", &email, 0, account);
}

AccountStore::Status SqliteAccountStore::findByLoginId(std::int64_t loginId, Account& account)
{
    std::lock_guard lock(m_mutex);
    return findAccount("WHERE login_id = ?1", nullptr, loginId, account);
}

AccountStore::Status SqliteAccountStore::findAccount(
    const char* whereClause, const std::string* email, std::int64_t loginId, Account& account)
{
    const std::string sql = std::string(kAccountColumns) + whereClause;
    Statement query(m_db, sql.c_str());
    if (email)
        query.bindText(1, *email);
    else
        query.bind(1, loginId);
    const int result = query.step();
    if (result == SQLITE_DONE)
        return Status::NotFound;
    if (result != SQLITE_ROW)
        return Status::Failed;
    account = Account{};
    account.loginId = query.int64(0);
    account.email = query.text(1);
    account.firstName = query.text(2);
    account.lastName = query.text(3);
    account.language = query.text(4);
    account.verified = query.int64(5) != 0;
    account.verifier.salt = query.blob(6);
    account.verifier.hash = query.blob(7);
    account.verifier.iterations = static_cast<int>(query.int64(8));
    account.passwordRecovery = query.int64(9) != 0;
    account.partialPassword = query.text(10);
    account.activeKey = keyIdFromText(query.text(11));
    account.createdAt = query.int64(12);
    return loadKeys(account.loginId, account.keys);
}

AccountStore::Status SqliteAccountStore::loadKeys(std::int64_t loginId, std::vector<StoredKey>& keys)
{
    keys.clear();
    Statement query(m_db,
        "SELECT key_id, private_key, public_key FROM account_keys WHERE login_id = ?1 "
        "ORDER BY position");
    query.bind(1, loginId);
    int result;
    while ((result = query.step()) == SQLITE_ROW)
        keys.push_back(StoredKey{ keyIdFromText(query.text(0)), query.text(1), query.text(2) });
    return result == SQLITE_DONE ? Status::Ok : Status::Failed;
}

AccountStore::Status SqliteAccountStore::insertAccount(const Account& account)
{
    std::lock_guard lock(m_mutex);
    Statement insert(m_db,
        "INSERT INTO accounts(login_id, email, first_name, last_name, language, created_at) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, account.loginId)
        .bindText(2, account.email)
        .bindText(3, account.firstName)
        .bindText(4, account.lastName)
        .bindText(5, account.language)
        .bind(6, account.createdAt);
    const int result = insert.step();
    if (result == SQLITE_DONE)
        return Status::Ok;
    return (result & 0xff) == SQLITE_CONSTRAINT ? Status::Conflict : Status::Failed;
}

AccountStore::Status SqliteAccountStore::updateProfile(
    std::int64_t loginId, const std::string& firstName, const std::string& lastName, const std::string& language)
{
    std::lock_guard lock(m_mutex);
    Statement update(m_db, "UPDATE accounts SET first_name = ?2, last_name = ?3, language = ?4 WHERE login_id = ?1");
    update.bind(1, loginId).bindText(2, firstName).bindText(3, lastName).bindText(4, language);
    if (!update.run())
        return Status::Failed;
    return sqlite3_changes(m_db) == 1 ? Status::Ok : Status::NotFound;
}

bool SqliteAccountStore::replaceKeys(std::int64_t loginId, const std::vector<StoredKey>& keys)
{
    Statement clear(m_db, "DELETE FROM account_keys WHERE login_id = ?1");
    clear.bind(1, loginId);
    if (!clear.run())
        return false;
    std::int64_t position = 0;
    for (const StoredKey& key : keys) {
        Statement insert(m_db,
            "INSERT INTO account_keys(login_id, key_id, position, private_key, public_key) "
            "VALUES(?1, ?2, ?3, ?4, ?5)");
        insert.bind(1, loginId)
            .bindText(2, keyIdToText(key.keyId))
            .bind(3, position++)
            .bindText(4, key.privateKey)
            .bindText(5, key.publicKey);
        if (!insert.run())
            return false;
    }
    return true;
}

AccountStore::Status SqliteAccountStore::storeCredentials(
    std::int64_t loginId, const CredentialUpdate& update, const CodePurpose* consumeCode)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen())
        return Status::Failed;
    if (consumeCode) {
        const Status consumed = deleteCodeRow(loginId, *consumeCode);
        if (consumed != Status::Ok)
            return consumed == Status::NotFound ? Status::Conflict : consumed;
    }
    Statement write(m_db,
        "UPDATE accounts SET verifier_salt = ?2, verifier_hash = ?3, verifier_iterations = ?4, "
        "password_recovery = ?5, partial_password = ?6, active_key = ?7, "
        "verified = MAX(verified, ?8) WHERE login_id = ?1");
    write.bind(1, loginId)
        .bindBlob(2, update.verifier.salt)
        .bindBlob(3, update.verifier.hash)
        .bind(4, update.verifier.iterations)
        .bind(5, update.passwordRecovery ? 1 : 0)
        .bindText(6, update.passwordRecovery ? update.partialPassword : std::string())
        .bindText(7, keyIdToText(update.activeKey))
        .bind(8, update.markVerified ? 1 : 0);
    if (!write.run())
        return Status::Failed;
    if (sqlite3_changes(m_db) != 1)
        return Status::NotFound;
    if (!replaceKeys(loginId, update.keys))
        return Status::Failed;
    return transaction.commit() ? Status::Ok : Status::Failed;
}

AccountStore::Status SqliteAccountStore::storeKeys(
    std::int64_t loginId, std::uint64_t activeKey, const std::vector<StoredKey>& keys)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen())
        return Status::Failed;
    Statement write(m_db, "UPDATE accounts SET active_key = ?2 WHERE login_id = ?1");
    write.bind(1, loginId).bindText(2, keyIdToText(activeKey));
    if (!write.run())
        return Status::Failed;
    if (sqlite3_changes(m_db) != 1)
        return Status::NotFound;
    if (!replaceKeys(loginId, keys))
        return Status::Failed;
    return transaction.commit() ? Status::Ok : Status::Failed;
}

AccountStore::Status SqliteAccountStore::saveCode(std::int64_t loginId, CodePurpose purpose, const StoredCode& code)
{
    std::lock_guard lock(m_mutex);
    Statement write(m_db,
        "INSERT OR REPLACE INTO pending_codes(login_id, purpose, code_salt, code_hash, expires_at, "
        "wrong_attempts) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    write.bind(1, loginId)
        .bindText(2, purposeName(purpose))
        .bindBlob(3, code.salt)
        .bindBlob(4, code.hash)
        .bind(5, code.expiresAt)
        .bind(6, code.wrongAttempts);
    return write.run() ? Status::Ok : Status::Failed;
}

AccountStore::Status SqliteAccountStore::findCode(std::int64_t loginId, CodePurpose purpose, StoredCode& code)
{
    std::lock_guard lock(m_mutex);
    Statement query(m_db,
        "SELECT code_salt, code_hash, expires_at, wrong_attempts FROM pending_codes "
        "WHERE login_id = ?1 AND purpose = ?2");
    query.bind(1, loginId).bindText(2, purposeName(purpose));
    const int result = query.step();
    if (result == SQLITE_DONE)
        return Status::NotFound;
    if (result != SQLITE_ROW)
        return Status::Failed;
    code.salt = query.blob(0);
    code.hash = query.blob(1);
    code.expiresAt = query.int64(2);
    code.wrongAttempts = static_cast<int>(query.int64(3));
    return Status::Ok;
}

AccountStore::Status SqliteAccountStore::countWrongCode(std::int64_t loginId, CodePurpose purpose, int limit)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    if (!transaction.isOpen())
        return Status::Failed;
    Statement count(m_db,
        "UPDATE pending_codes SET wrong_attempts = wrong_attempts + 1 "
        "WHERE login_id = ?1 AND purpose = ?2");
    count.bind(1, loginId).bindText(2, purposeName(purpose));
    if (!count.run())
        return Status::Failed;
    if (sqlite3_changes(m_db) == 0)
        return Status::NotFound;
    Statement expire(m_db, "DELETE FROM pending_codes WHERE login_id = ?1 AND purpose = ?2 AND wrong_attempts >= ?3");
    expire.bind(1, loginId).bindText(2, purposeName(purpose)).bind(3, limit);
    if (!expire.run())
        return Status::Failed;
    return transaction.commit() ? Status::Ok : Status::Failed;
}

AccountStore::Status SqliteAccountStore::deleteCode(std::int64_t loginId, CodePurpose purpose)
{
    std::lock_guard lock(m_mutex);
    return deleteCodeRow(loginId, purpose);
}

AccountStore::Status SqliteAccountStore::deleteCodeRow(std::int64_t loginId, CodePurpose purpose)
{
    Statement remove(m_db, "DELETE FROM pending_codes WHERE login_id = ?1 AND purpose = ?2");
    remove.bind(1, loginId).bindText(2, purposeName(purpose));
    if (!remove.run())
        return Status::Failed;
    return sqlite3_changes(m_db) == 1 ? Status::Ok : Status::NotFound;
}

} // namespace keyserver
