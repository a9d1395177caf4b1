// The key server's database: schema versions and step-wise migration,
// persistence across reopening, and values kept exactly as given.

#include "SqliteAccountStore.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace keyserver;

namespace {

// Runs statements on a database file without the store, as an older server
// or a person with the sqlite3 tool would.
class RawDatabase
{
public:
    explicit RawDatabase(const std::string& path) { sqlite3_open(path.c_str(), &m_db); }
    ~RawDatabase() { sqlite3_close(m_db); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;

    bool exec(const std::string& sql)
    {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    std::string scalar(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return value;
    }

private:
    sqlite3* m_db = nullptr;
};

Account sampleAccount(std::int64_t loginId, const std::string& email)
{
    Account account;
    account.loginId = loginId;
    account.email = email;
    account.firstName = "Ann'; DROP TABLE accounts;--";
    account.lastName = std::string("Null\0Byte", 9);
    account.language = "de_DE";
    account.createdAt = 1767225600;
    return account;
}

CredentialUpdate sampleCredentials()
{
    CredentialUpdate update;
    update.verifier = Verifier{ std::string("salt\0salt", 9), std::string(32, '\x01'), 1000 };
    update.passwordRecovery = true;
    update.partialPassword = "cGFydGlhbA==";
    update.activeKey = 9223372036854775807ULL;
    update.keys = { { 9223372036854775807ULL, "cHJpdg==", "cHVi" }, { 42, "b2xk", "" } };
    update.markVerified = true;
    return update;
}

class SqliteAccountStoreTest : public AvTempHome
{
protected:
    std::string path() const { return home() + "/keyserver.db"; }
    std::unique_ptr<SqliteAccountStore> open()
    {
        std::string error;
        auto store = SqliteAccountStore::open(path(), error);
        EXPECT_TRUE(store) << error;
        return store;
    }
};

TEST_F(SqliteAccountStoreTest, NewFileGetsTheCurrentSchemaInWalMode)
{
    open();
    RawDatabase raw(path());
    EXPECT_EQ(raw.scalar("PRAGMA user_version"), std::to_string(SqliteAccountStore::schemaVersion()));
    EXPECT_EQ(raw.scalar("PRAGMA journal_mode"), "wal");
    EXPECT_GE(SqliteAccountStore::schemaVersion(), 2);
}

TEST_F(SqliteAccountStoreTest, OlderFileIsMigratedStepByStepKeepingItsRows)
{
    {
        RawDatabase raw(path());
        ASSERT_TRUE(raw.exec(SqliteAccountStore::migrationSteps()[0] + "PRAGMA user_version=1;"));
        ASSERT_TRUE(raw.exec("INSERT INTO accounts(login_id, email, verified, created_at) "
                             "VALUES(111222333, 'old@example.org', 1, 0)"));
    }
    auto store = open();
    ASSERT_TRUE(store);
    Account account;
    ASSERT_EQ(store->findByEmail("old@example.org", account), AccountStore::Status::Ok);
    EXPECT_EQ(account.loginId, 111222333);
    EXPECT_TRUE(account.verified);
    // The table of the second step is there and usable.
    EXPECT_EQ(store->saveCode(111222333, CodePurpose::Reset, StoredCode{ "s", "h", 10, 0 }), AccountStore::Status::Ok);
    store.reset();
    EXPECT_EQ(RawDatabase(path()).scalar("PRAGMA user_version"), std::to_string(SqliteAccountStore::schemaVersion()));
}

TEST_F(SqliteAccountStoreTest, FileFromANewerServerIsRefusedUntouched)
{
    {
        RawDatabase raw(path());
        ASSERT_TRUE(raw.exec("CREATE TABLE future(x); PRAGMA user_version=99;"));
    }
    std::string error;
    EXPECT_FALSE(SqliteAccountStore::open(path(), error));
    EXPECT_NE(error.find("99"), std::string::npos);
    EXPECT_EQ(RawDatabase(path()).scalar("PRAGMA user_version"), "99");
}

TEST_F(SqliteAccountStoreTest, AccountsKeysAndCodesPersistExactly)
{
    {
        auto store = open();
        ASSERT_EQ(store->insertAccount(sampleAccount(500600700, "ann@example.org")), AccountStore::Status::Ok);
        ASSERT_EQ(store->storeCredentials(500600700, sampleCredentials(), nullptr), AccountStore::Status::Ok);
        ASSERT_EQ(store->saveCode(500600700, CodePurpose::Recovery, StoredCode{ "salt", "hash", 99, 2 }),
            AccountStore::Status::Ok);
    }
    auto store = open();
    Account account;
    ASSERT_EQ(store->findByLoginId(500600700, account), AccountStore::Status::Ok);
    const Account expected = sampleAccount(500600700, "ann@example.org");
    const CredentialUpdate credentials = sampleCredentials();
    EXPECT_EQ(account.email, expected.email);
    EXPECT_EQ(account.firstName, expected.firstName);
    EXPECT_EQ(account.lastName, expected.lastName);
    EXPECT_EQ(account.language, "de_DE");
    EXPECT_TRUE(account.verified);
    EXPECT_EQ(account.verifier.salt, credentials.verifier.salt);
    EXPECT_EQ(account.verifier.hash, credentials.verifier.hash);
    EXPECT_EQ(account.verifier.iterations, 1000);
    EXPECT_TRUE(account.passwordRecovery);
    EXPECT_EQ(account.partialPassword, "cGFydGlhbA==");
    EXPECT_EQ(account.activeKey, 9223372036854775807ULL);
    ASSERT_EQ(account.keys.size(), 2u);
    EXPECT_EQ(account.keys[0].keyId, 9223372036854775807ULL);
    EXPECT_EQ(account.keys[0].publicKey, "cHVi");
    EXPECT_EQ(account.keys[1].keyId, 42u);
    EXPECT_EQ(account.keys[1].privateKey, "b2xk");
    StoredCode code;
    ASSERT_EQ(store->findCode(500600700, CodePurpose::Recovery, code), AccountStore::Status::Ok);
    EXPECT_EQ(code.hash, "hash");
    EXPECT_EQ(code.expiresAt, 99);
    EXPECT_EQ(code.wrongAttempts, 2);
}

TEST_F(SqliteAccountStoreTest, TakenAddressOrIdIsAConflict)
{
    auto store = open();
    ASSERT_EQ(store->insertAccount(sampleAccount(100000001, "a@example.org")), AccountStore::Status::Ok);
    EXPECT_EQ(store->insertAccount(sampleAccount(100000002, "a@example.org")), AccountStore::Status::Conflict);
    EXPECT_EQ(store->insertAccount(sampleAccount(100000001, "b@example.org")), AccountStore::Status::Conflict);
    Account account;
    EXPECT_EQ(store->findByEmail("b@example.org", account), AccountStore::Status::NotFound);
}

TEST_F(SqliteAccountStoreTest, CredentialsThatNeedACodeAreStoredOnlyWhileTheCodeIsThere)
{
    auto store = open();
    ASSERT_EQ(store->insertAccount(sampleAccount(100000003, "c@example.org")), AccountStore::Status::Ok);
    const CodePurpose purpose = CodePurpose::Verification;
    EXPECT_EQ(store->storeCredentials(100000003, sampleCredentials(), &purpose), AccountStore::Status::Conflict);
    Account account;
    ASSERT_EQ(store->findByLoginId(100000003, account), AccountStore::Status::Ok);
    EXPECT_FALSE(account.verified);
    EXPECT_TRUE(account.keys.empty());

    ASSERT_EQ(store->saveCode(100000003, purpose, StoredCode{ "s", "h", 10, 0 }), AccountStore::Status::Ok);
    EXPECT_EQ(store->storeCredentials(100000003, sampleCredentials(), &purpose), AccountStore::Status::Ok);
    StoredCode code;
    EXPECT_EQ(store->findCode(100000003, purpose, code), AccountStore::Status::NotFound);
    ASSERT_EQ(store->findByLoginId(100000003, account), AccountStore::Status::Ok);
    EXPECT_TRUE(account.verified);
    EXPECT_EQ(account.keys.size(), 2u);
}

TEST_F(SqliteAccountStoreTest, WrongCodeEntriesAreCountedUpToTheLimit)
{
    auto store = open();
    ASSERT_EQ(store->insertAccount(sampleAccount(100000004, "d@example.org")), AccountStore::Status::Ok);
    ASSERT_EQ(store->saveCode(100000004, CodePurpose::Reset, StoredCode{ "s", "h", 10, 0 }), AccountStore::Status::Ok);
    EXPECT_EQ(store->countWrongCode(100000004, CodePurpose::Reset, 2), AccountStore::Status::Ok);
    StoredCode code;
    ASSERT_EQ(store->findCode(100000004, CodePurpose::Reset, code), AccountStore::Status::Ok);
    EXPECT_EQ(code.wrongAttempts, 1);
    EXPECT_EQ(store->countWrongCode(100000004, CodePurpose::Reset, 2), AccountStore::Status::Ok);
    EXPECT_EQ(store->findCode(100000004, CodePurpose::Reset, code), AccountStore::Status::NotFound);
}

} // namespace
