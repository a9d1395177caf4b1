#include "keyring/AvSqliteStatement.h"

#include <sqlite3.h>

#include <utility>

AvSqliteStatement::AvSqliteStatement(sqlite3* db, sqlite3_stmt* statement)
    : m_db(db)
    , m_statement(statement)
{
}

AvSqliteStatement::~AvSqliteStatement()
{
    finalize();
}

AvSqliteStatement::AvSqliteStatement(AvSqliteStatement&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_statement(std::exchange(other.m_statement, nullptr))
{
}

AvSqliteStatement& AvSqliteStatement::operator=(AvSqliteStatement&& other) noexcept
{
    if (this != &other) {
        finalize();
        m_db = std::exchange(other.m_db, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

void AvSqliteStatement::finalize()
{
    if (m_statement)
        sqlite3_finalize(m_statement);
    m_statement = nullptr;
}

bool AvSqliteStatement::bind(int index, std::int64_t value)
{
    return m_statement && sqlite3_bind_int64(m_statement, index, value) == SQLITE_OK;
}

bool AvSqliteStatement::bind(int index, std::string_view text)
{
    // SQLITE_TRANSIENT: SQLite keeps its own copy, so the caller's buffer may go.
    return m_statement
        && sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT)
        == SQLITE_OK;
}

int AvSqliteStatement::step()
{
    if (!m_statement)
        return SQLITE_MISUSE;
    return sqlite3_step(m_statement);
}

int AvSqliteStatement::run()
{
    int rc = step();
    while (rc == SQLITE_ROW)
        rc = step();
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::int64_t AvSqliteStatement::columnInt64(int column) const
{
    return m_statement ? sqlite3_column_int64(m_statement, column) : 0;
}

int AvSqliteStatement::columnInt(int column) const
{
    return m_statement ? sqlite3_column_int(m_statement, column) : 0;
}

std::string AvSqliteStatement::columnText(int column) const
{
    if (!m_statement)
        return {};
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    if (!text)
        return {};
    const int length = sqlite3_column_bytes(m_statement, column);
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

std::string AvSqliteStatement::errorText() const
{
    if (!m_db)
        return {};
    const char* text = sqlite3_errmsg(m_db);
    return text ? std::string(text) : std::string();
}
