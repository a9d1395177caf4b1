#pragma once

// One prepared SQLite statement, finalized when the object goes away. Values
// are bound as parameters (never pasted into the text), so no stored name or
// key text can change what a statement does. Results are SQLite's own codes:
// SQLITE_ROW, SQLITE_DONE or an error such as SQLITE_CONSTRAINT (19).

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

class AvSqliteStatement
{
public:
    AvSqliteStatement() = default;
    AvSqliteStatement(sqlite3* db, sqlite3_stmt* statement);
    ~AvSqliteStatement();

    AvSqliteStatement(AvSqliteStatement&& other) noexcept;
    AvSqliteStatement& operator=(AvSqliteStatement&& other) noexcept;
    AvSqliteStatement(const AvSqliteStatement&) = delete;
    AvSqliteStatement& operator=(const AvSqliteStatement&) = delete;

    explicit operator bool() const { return m_statement != nullptr; }

    // Parameters are numbered from 1. False when the value could not be bound.
    bool bind(int index, std::int64_t value);
    bool bind(int index, std::string_view text);

    // One step: SQLITE_ROW while rows come, SQLITE_DONE at the end, else the error.
    int step();
    // Steps to the end; 0 (SQLITE_OK) when the statement ran through, else the error.
    int run();

    std::int64_t columnInt64(int column) const;
    int columnInt(int column) const;
    std::string columnText(int column) const;

    // The connection's text for the last failure, empty when it gave none.
    std::string errorText() const;

private:
    void finalize();

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
};
