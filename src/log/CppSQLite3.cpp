#include "src/log/CppSQLite3.h"

#include <sqlite3.h>

#include <cstdlib>

namespace Ovra {

namespace {

const int kOpenReadWriteCreate = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

[[noreturn]] void ThrowLayerError(const char* text) {
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, text);
}

// Throws `code` with a text that SQLite allocated for the caller, releasing the text first.
[[noreturn]] void ThrowOwnedText(int code, char* text) {
    CppSQLite3Exception error(code, text);
    if (text) sqlite3_free(text);
    throw error;
}

}  // namespace

// ---------------------------------------------------------------------------- CppSQLite3Exception

CppSQLite3Exception::CppSQLite3Exception(int errorCode, const char* text)
    : m_errorCode(errorCode),
      m_message(
          sqlite3_mprintf("%s[%d]: %s", ErrorCodeName(errorCode), errorCode, text ? text : "")) {}

CppSQLite3Exception::CppSQLite3Exception(const CppSQLite3Exception& other)
    : m_errorCode(other.m_errorCode),
      m_message(other.m_message ? sqlite3_mprintf("%s", other.m_message) : nullptr) {}

CppSQLite3Exception::~CppSQLite3Exception() {
    if (m_message) sqlite3_free(m_message);
}

const char* CppSQLite3Exception::ErrorCodeName(int errorCode) {
    switch (errorCode) {
        case SQLITE_OK:
            return "SQLITE_OK";
        case SQLITE_ERROR:
            return "SQLITE_ERROR";
        case SQLITE_INTERNAL:
            return "SQLITE_INTERNAL";
        case SQLITE_PERM:
            return "SQLITE_PERM";
        case SQLITE_ABORT:
            return "SQLITE_ABORT";
        case SQLITE_BUSY:
            return "SQLITE_BUSY";
        case SQLITE_LOCKED:
            return "SQLITE_LOCKED";
        case SQLITE_NOMEM:
            return "SQLITE_NOMEM";
        case SQLITE_READONLY:
            return "SQLITE_READONLY";
        case SQLITE_INTERRUPT:
            return "SQLITE_INTERRUPT";
        case SQLITE_IOERR:
            return "SQLITE_IOERR";
        case SQLITE_CORRUPT:
            return "SQLITE_CORRUPT";
        case SQLITE_NOTFOUND:
            return "SQLITE_NOTFOUND";
        case SQLITE_FULL:
            return "SQLITE_FULL";
        case SQLITE_CANTOPEN:
            return "SQLITE_CANTOPEN";
        case SQLITE_PROTOCOL:
            return "SQLITE_PROTOCOL";
        case SQLITE_EMPTY:
            return "SQLITE_EMPTY";
        case SQLITE_SCHEMA:
            return "SQLITE_SCHEMA";
        case SQLITE_TOOBIG:
            return "SQLITE_TOOBIG";
        case SQLITE_CONSTRAINT:
            return "SQLITE_CONSTRAINT";
        case SQLITE_MISMATCH:
            return "SQLITE_MISMATCH";
        case SQLITE_MISUSE:
            return "SQLITE_MISUSE";
        case SQLITE_NOLFS:
            return "SQLITE_NOLFS";
        case SQLITE_AUTH:
            return "SQLITE_AUTH";
        case SQLITE_FORMAT:
            return "SQLITE_FORMAT";
        case SQLITE_RANGE:
            return "SQLITE_RANGE";
        case SQLITE_ROW:
            return "SQLITE_ROW";
        case SQLITE_DONE:
            return "SQLITE_DONE";
        case kLayerError:
            return "CPPSQLITE_ERROR";
        default:
            return "UNKNOWN_ERROR";
    }
}

// ---------------------------------------------------------------------------- CppSQLite3Query

CppSQLite3Query::CppSQLite3Query()
    : m_db(nullptr), m_statement(nullptr), m_eof(true), m_columnCount(0), m_ownStatement(false) {}

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* statement, bool atEnd)
    : m_db(db),
      m_statement(statement),
      m_eof(atEnd),
      m_columnCount(sqlite3_column_count(statement)),
      m_ownStatement(true) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : m_db(other.m_db),
      m_statement(other.m_statement),
      m_eof(other.m_eof),
      m_columnCount(other.m_columnCount),
      m_ownStatement(other.m_ownStatement) {
    other.m_statement = nullptr;
    other.m_ownStatement = false;
}

CppSQLite3Query::~CppSQLite3Query() {
    try {
        Finalize();
    } catch (...) {
    }
}

const char* CppSQLite3Query::FirstColumnText() {
    if (!m_statement) ThrowLayerError("Null Virtual Machine pointer");
    if (m_columnCount < 1) ThrowLayerError("Invalid field index requested");
    return reinterpret_cast<const char*>(sqlite3_column_text(m_statement, 0));
}

void CppSQLite3Query::Finalize() {
    if (m_statement && m_ownStatement) {
        const int result = sqlite3_finalize(m_statement);
        m_statement = nullptr;
        if (result != SQLITE_OK) throw CppSQLite3Exception(result, sqlite3_errmsg(m_db));
    }
}

// ---------------------------------------------------------------------------- CppSQLite3DB

CppSQLite3DB::CppSQLite3DB() : m_db(nullptr), m_busyTimeoutMs(kDefaultBusyTimeoutMs) {}

CppSQLite3DB::~CppSQLite3DB() {
    Close();
}

void CppSQLite3DB::Open(const char* path) {
    Close();  // never lose a handle that is still held
    const int result = sqlite3_open_v2(path, &m_db, kOpenReadWriteCreate, nullptr);
    if (result != SQLITE_OK) {
        // SQLite hands out a handle even when the open fails; it must be closed all the same.
        CppSQLite3Exception error(result, sqlite3_errmsg(m_db));
        Close();
        throw error;
    }
    sqlite3_busy_timeout(m_db, m_busyTimeoutMs);
    // Log records are not worth a disk sync each; the result is of no consequence.
    char* errorText = nullptr;
    sqlite3_exec(m_db, "PRAGMA synchronous=OFF", nullptr, nullptr, &errorText);
    if (errorText) sqlite3_free(errorText);
}

void CppSQLite3DB::Close() {
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

void CppSQLite3DB::CheckOpen() const {
    if (!m_db) ThrowLayerError("Database not open");
}

int CppSQLite3DB::Execute(const char* sql) {
    CheckOpen();
    char* errorText = nullptr;
    const int result = sqlite3_exec(m_db, sql, nullptr, nullptr, &errorText);
    if (result != SQLITE_OK) ThrowOwnedText(result, errorText);
    return sqlite3_changes(m_db);
}

sqlite3_stmt* CppSQLite3DB::Prepare(const char* sql) {
    CheckOpen();
    const char* tail = nullptr;
    sqlite3_stmt* statement = nullptr;
    const int result = sqlite3_prepare(m_db, sql, -1, &statement, &tail);
    if (result != SQLITE_OK) throw CppSQLite3Exception(result, "");
    return statement;
}

CppSQLite3Query CppSQLite3DB::Query(const char* sql) {
    sqlite3_stmt* statement = Prepare(sql);
    if (!statement) return CppSQLite3Query();  // only blanks or comments: nothing to run
    const int step = sqlite3_step(statement);
    if (step == SQLITE_DONE) return CppSQLite3Query(m_db, statement, true);
    if (step == SQLITE_ROW) return CppSQLite3Query(m_db, statement, false);
    // The legacy interface reports the specific error only when the statement is finalized.
    const int result = sqlite3_finalize(statement);
    throw CppSQLite3Exception(result, sqlite3_errmsg(m_db));
}

int CppSQLite3DB::QueryInt(const char* sql) {
    CppSQLite3Query query = Query(sql);
    if (!query.HasStatement()) ThrowLayerError("Null Virtual Machine pointer");
    if (query.Eof() || query.ColumnCount() < 1) ThrowLayerError("Invalid scalar query");
    const char* text = query.FirstColumnText();
    const int value = text ? std::atoi(text) : 0;
    query.Finalize();
    return value;
}

CppSQLite3Rows CppSQLite3DB::Rows(const char* sql, const char* bound) {
    CheckOpen();
    return CppSQLite3Rows(m_db, sql, bound);
}

long long CppSQLite3DB::TotalChanges() const {
    CheckOpen();
    return sqlite3_total_changes(m_db);
}

bool CppSQLite3DB::InTransaction() const {
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

}  // namespace Ovra
