#include "keyring/AvSqliteDb.h"

#include <sqlite3.h>

#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 2000;

} // namespace

AvSqliteDb::~AvSqliteDb()
{
    close();
}

AvSqliteDb::AvSqliteDb(AvSqliteDb&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_errorText(std::move(other.m_errorText))
{
}

AvSqliteDb& AvSqliteDb::operator=(AvSqliteDb&& other) noexcept
{
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_errorText = std::move(other.m_errorText);
    }
    return *this;
}

AvSqliteDb AvSqliteDb::open(const std::string& path)
{
    return openWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

AvSqliteDb AvSqliteDb::openReadOnly(const std::string& path)
{
    return openWith(path, SQLITE_OPEN_READONLY);
}

AvSqliteDb AvSqliteDb::openWith(const std::string& path, int flags)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        // SQLite hands out a handle even on failure; it still has to be closed.
        sqlite3_close(db);
        return AvSqliteDb();
    }
    // Another process (or a second connection of this one) may hold the file
    // for a moment; wait for it instead of failing at once.
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return AvSqliteDb(db);
}

int AvSqliteDb::exec(const std::string& sql)
{
    m_errorText.clear();
    if (!m_db)
        return SQLITE_MISUSE;
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message);
    if (message) {
        m_errorText = message;
        sqlite3_free(message);
    }
    return rc;
}

AvSqliteStatement AvSqliteDb::prepare(const std::string& sql)
{
    m_errorText.clear();
    if (!m_db)
        return AvSqliteStatement();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_OK || !statement) {
        if (const char* text = sqlite3_errmsg(m_db))
            m_errorText = text;
        sqlite3_finalize(statement);
        return AvSqliteStatement();
    }
    return AvSqliteStatement(m_db, statement);
}

void AvSqliteDb::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}
