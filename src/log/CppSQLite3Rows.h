#pragma once

// The result rows of an SQL text that may hold several statements, stepped one at a time. Each
// statement is prepared with sqlite3_prepare_v2 (a schema change prepares it again) and run to its
// end before the next is prepared, as sqlite3_exec runs them. The rows of all statements form one
// result whose column count its first row fixes. Nothing is copied out of SQLite.

struct sqlite3;
struct sqlite3_stmt;

namespace Ovra {

class CppSQLite3Rows {
public:
    // Prepares nothing yet: `sql` (and `bound`, the text of parameter ?1 of every statement that
    // has one) must outlive the object.
    CppSQLite3Rows(sqlite3* db, const char* sql, const char* bound = nullptr)
        : m_db(db), m_rest(sql), m_bound(bound) {}
    CppSQLite3Rows(const CppSQLite3Rows&) = delete;
    CppSQLite3Rows& operator=(const CppSQLite3Rows&) = delete;
    ~CppSQLite3Rows();

    // Steps to the next result row; false once every statement has run, and from then on. A
    // failure raises SQLite's code (SQLITE_ERROR for a row whose column count differs from the
    // first row's), and no statement runs after it.
    bool Next();
    // The index of a result column by the name the current row's statement gives it; raises
    // "Invalid field name requested" for a name that is not there.
    int ColumnIndex(const char* name) const;
    // The UTF-8 text of a column of the current row, null for SQL NULL; raises SQLITE_NOMEM when
    // SQLite cannot make the text. Valid until the next step.
    const char* Text(int column) const;
    // When the column of the current row holds a number (not text, not NULL), sets `value` to it
    // and returns true. Asked before Text, which may change what SQLite reports.
    bool Number(int column, double& value) const;
    // The length in bytes of the text that Text gave.
    int Bytes(int column) const;

private:
    bool PrepareNext();
    [[noreturn]] void Fail(int code, const char* text);

    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    const char* m_rest;  // the statements not prepared yet; null after a failure
    const char* m_bound;
    int m_columns = -1;  // the column count of the first row, once there is one
};

}  // namespace Ovra
