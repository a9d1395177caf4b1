#pragma once

// An open SQLite database connection, closed when the object goes away. An
// empty object (no connection) stands for "could not open"; callers test it
// with operator bool. The key ring opens and closes its files inside every
// operation, so these objects live on the stack of one call.

#include "keyring/AvSqliteStatement.h"

#include <string>

struct sqlite3;

class AvSqliteDb
{
public:
    AvSqliteDb() = default;
    ~AvSqliteDb();

    AvSqliteDb(AvSqliteDb&& other) noexcept;
    AvSqliteDb& operator=(AvSqliteDb&& other) noexcept;
    AvSqliteDb(const AvSqliteDb&) = delete;
    AvSqliteDb& operator=(const AvSqliteDb&) = delete;

    // Opens the file for reading and writing, creating it when missing.
    static AvSqliteDb open(const std::string& path);
    // Opens an existing file for reading only.
    static AvSqliteDb openReadOnly(const std::string& path);

    explicit operator bool() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }

    // Runs statements without parameters; returns SQLite's result code and
    // keeps its error text for errorText().
    int exec(const std::string& sql);
    // A prepared statement, empty when preparing failed (see errorText()).
    AvSqliteStatement prepare(const std::string& sql);

    // The text SQLite gave for the last failure, empty when it gave none.
    const std::string& errorText() const { return m_errorText; }

    void close();

private:
    static AvSqliteDb openWith(const std::string& path, int flags);
    explicit AvSqliteDb(sqlite3* db)
        : m_db(db)
    {
    }

    sqlite3* m_db = nullptr;
    std::string m_errorText;
};
