#include "src/log/CppSQLite3Rows.h"

#include "src/log/CppSQLite3.h"

#include <sqlite3.h>

#include <cstring>

namespace Ovra {

CppSQLite3Rows::~CppSQLite3Rows() {
    sqlite3_finalize(m_statement);
}

bool CppSQLite3Rows::Next() {
    for (;;) {
        if (!m_statement && !PrepareNext()) return false;
        const int step = sqlite3_step(m_statement);
        if (step == SQLITE_ROW) {
            const int columns = sqlite3_column_count(m_statement);
            if (m_columns < 0) {
                m_columns = columns;
            } else if (columns != m_columns) {
                Fail(SQLITE_ERROR, "statements with different column counts");
            }
            return true;
        }
        if (step != SQLITE_DONE) Fail(step, sqlite3_errmsg(m_db));
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

bool CppSQLite3Rows::PrepareNext() {
    while (m_rest && *m_rest) {
        const char* tail = nullptr;
        const int result = sqlite3_prepare_v2(m_db, m_rest, -1, &m_statement, &tail);
        if (result != SQLITE_OK) Fail(result, sqlite3_errmsg(m_db));
        m_rest = tail;
        if (!m_statement) continue;  // none for blanks or a comment
        if (m_bound && sqlite3_bind_parameter_count(m_statement) > 0) {
            const int bound = sqlite3_bind_text(m_statement, 1, m_bound, -1, SQLITE_STATIC);
            if (bound != SQLITE_OK) Fail(bound, sqlite3_errmsg(m_db));
        }
        return true;
    }
    return false;
}

void CppSQLite3Rows::Fail(int code, const char* text) {
    CppSQLite3Exception error(code, text);  // before finalizing replaces the text
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_rest = nullptr;
    throw error;
}

int CppSQLite3Rows::ColumnIndex(const char* name) const {
    const int columns = m_statement ? sqlite3_column_count(m_statement) : 0;
    for (int i = 0; i < columns && name; ++i) {
        const char* column = sqlite3_column_name(m_statement, i);
        if (column && std::strcmp(column, name) == 0) return i;
    }
    throw CppSQLite3Exception(CppSQLite3Exception::kLayerError, "Invalid field name requested");
}

const char* CppSQLite3Rows::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    if (!text && sqlite3_column_type(m_statement, column) != SQLITE_NULL) {
        throw CppSQLite3Exception(SQLITE_NOMEM, sqlite3_errmsg(m_db));
    }
    return reinterpret_cast<const char*>(text);
}

bool CppSQLite3Rows::Number(int column, double& value) const {
    const int type = sqlite3_column_type(m_statement, column);
    if (type != SQLITE_FLOAT && type != SQLITE_INTEGER) return false;
    value = sqlite3_column_double(m_statement, column);
    return true;
}

int CppSQLite3Rows::Bytes(int column) const {
    return sqlite3_column_bytes(m_statement, column);
}

}  // namespace Ovra
