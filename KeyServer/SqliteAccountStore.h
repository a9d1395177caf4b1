#pragma once

// AccountStore in one SQLite file (WAL journal). The schema carries its
// version in PRAGMA user_version and is brought up to date on open, one step
// per version, each step in its own transaction; a file written by a newer
// server is refused rather than guessed at. Every value reaches SQL as a bound
// parameter. One connection serves all threads, guarded by a mutex.

#include "AccountStore.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace keyserver {

class SqliteAccountStore : public AccountStore
{
public:
    // Opens (creating when missing) and migrates the database; null with a
    // reason in `error` when that fails.
    static std::unique_ptr<SqliteAccountStore> open(const std::string& path, std::string& error);
    ~SqliteAccountStore() override;

    SqliteAccountStore(const SqliteAccountStore&) = delete;
    SqliteAccountStore& operator=(const SqliteAccountStore&) = delete;

    // The schema version this build writes, and the statements of each step
    // (step i brings version i to i + 1), so tests can build older files.
    static int schemaVersion();
    static const std::vector<std::string>& migrationSteps();

    Status findByEmail(const std::string& email, Account& account) override;
    Status findByLoginId(std::int64_t loginId, Account& account) override;
    Status insertAccount(const Account& account) override;
    Status updateProfile(std::int64_t loginId, const std::string& firstName, const std::string& lastName,
        const std::string& language) override;
    Status storeCredentials(
        std::int64_t loginId, const CredentialUpdate& update, const CodePurpose* consumeCode) override;
    Status storeKeys(std::int64_t loginId, std::uint64_t activeKey, const std::vector<StoredKey>& keys) override;
    Status saveCode(std::int64_t loginId, CodePurpose purpose, const StoredCode& code) override;
    Status findCode(std::int64_t loginId, CodePurpose purpose, StoredCode& code) override;
    Status countWrongCode(std::int64_t loginId, CodePurpose purpose, int limit) override;
    Status deleteCode(std::int64_t loginId, CodePurpose purpose) override;

private:
    explicit SqliteAccountStore(sqlite3* db);
    bool configure(std::string& error);
    bool migrate(std::string& error);

    Status findAccount(const char* whereClause, const std::string* email, std::int64_t loginId, Account& account);
    Status loadKeys(std::int64_t loginId, std::vector<StoredKey>& keys);
    bool replaceKeys(std::int64_t loginId, const std::vector<StoredKey>& keys);
    Status deleteCodeRow(std::int64_t loginId, CodePurpose purpose);

    sqlite3* m_db;
    std::mutex m_mutex;
};

} // namespace keyserver
