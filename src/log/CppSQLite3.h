#pragma once

// A thin object layer over SQLite for the log database. Every failure is thrown as a
// CppSQLite3Exception carrying SQLite's result code, or kLayerError for the layer's own checks.
// Nothing here locks: the owner serialises all use of one connection. All SQL text is UTF-8.

#include "src/log/CppSQLite3Rows.h"

struct sqlite3;
struct sqlite3_stmt;

namespace Ovra {

class CppSQLite3Exception {
public:
    static const int kLayerError = 1000;

    // The message reads "<code name>[<code>]: <text>"; a null text counts as empty.
    CppSQLite3Exception(int errorCode, const char* text);
    CppSQLite3Exception(const CppSQLite3Exception& other);
    CppSQLite3Exception& operator=(const CppSQLite3Exception&) = delete;
    virtual ~CppSQLite3Exception();

    int ErrorCode() const { return m_errorCode; }
    // Null when SQLite could not allocate the text.
    const char* Message() const { return m_message; }

    static const char* ErrorCodeName(int errorCode);

private:
    int m_errorCode;
    char* m_message;  // from sqlite3_mprintf
};

// A prepared statement positioned on its first result row (or at its end).
class CppSQLite3Query {
public:
    CppSQLite3Query();
    CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool atEnd);
    // Ownership of the statement moves; the source is left empty.
    CppSQLite3Query(CppSQLite3Query&& other) noexcept;
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
    virtual ~CppSQLite3Query();

    bool Eof() const { return m_eof; }
    int ColumnCount() const { return m_columnCount; }
    bool HasStatement() const { return m_statement != nullptr; }
    // Column 0 of the current row; null without a row or for SQL NULL.
    const char* FirstColumnText();
    void Finalize();

private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement;
    bool m_eof;
    int m_columnCount;
    bool m_ownStatement;
};

// One connection. Closed after construction; Open creates a missing file.
class CppSQLite3DB {
public:
    static const int kDefaultBusyTimeoutMs = 60000;

    CppSQLite3DB();
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    virtual ~CppSQLite3DB();

    // Opens read-write, creating the file; a failed open leaves the connection closed.
    void Open(const char* path);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }

    // Runs every statement of `sql`; the number of rows the last one changed.
    int Execute(const char* sql);
    CppSQLite3Query Query(const char* sql);
    int QueryInt(const char* sql);
    // The result rows of every statement of `sql`, stepped one at a time (see CppSQLite3Rows).
    CppSQLite3Rows Rows(const char* sql, const char* bound = nullptr);
    // Rows changed by this connection since it was opened.
    long long TotalChanges() const;
    // True while a transaction begun with BEGIN is open.
    bool InTransaction() const;

    // How long a statement retries on a locked database; applies from the next Open. Tests
    // shorten it so that lock contention fails fast.
    void SetBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }

private:
    void CheckOpen() const;
    sqlite3_stmt* Prepare(const char* sql);

    sqlite3* m_db;
    int m_busyTimeoutMs;
};

}  // namespace Ovra
