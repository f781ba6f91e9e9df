#include "LogTestSupport.h"

#include <Ovra/Bases/StringConv.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>

namespace Ovra {
namespace logtest {

RawDb::RawDb(const std::string& utf8Path) {
    if (sqlite3_open_v2(utf8Path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw std::runtime_error("cannot open " + utf8Path);
    }
}

RawDb::~RawDb() {
    sqlite3_close(m_db);
}

int RawDb::Exec(const std::string& sql) {
    return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::vector<std::string>> RawDb::Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(m_db));
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const unsigned char* text = sqlite3_column_text(statement, i);
            row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
}

std::string RawDb::Scalar(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? std::string("<none>") : rows[0][0];
}

std::atomic<bool> SqliteAllocFailure::s_fail{false};
sqlite3_mem_methods SqliteAllocFailure::s_real;

void* SqliteAllocFailure::Malloc(int size) {
    return s_fail ? nullptr : s_real.xMalloc(size);
}

void* SqliteAllocFailure::Realloc(void* old, int size) {
    return s_fail ? nullptr : s_real.xRealloc(old, size);
}

SqliteAllocFailure::SqliteAllocFailure() {
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &s_real);
    sqlite3_mem_methods failing = s_real;
    failing.xMalloc = &Malloc;
    failing.xRealloc = &Realloc;
    sqlite3_config(SQLITE_CONFIG_MALLOC, &failing);
    sqlite3_initialize();
}

SqliteAllocFailure::~SqliteAllocFailure() {
    s_fail = false;
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_MALLOC, &s_real);
    sqlite3_initialize();
}

LogService::Field MakeField(const std::wstring& name, LogVariant::Type type, int constraint) {
    LogService::Field field;
    field.name = name;
    field.type = type;
    field.constraint = constraint;
    return field;
}

LogService::FieldData Data(const std::wstring& name, const LogVariant& value) {
    LogService::FieldData data;
    data.name = name;
    data.value = value;
    return data;
}

std::map<std::wstring, LogVariant> ByName(const Row& record) {
    std::map<std::wstring, LogVariant> values;
    for (const LogService::FieldData& field : record) values[field.name] = field.value;
    return values;
}

}  // namespace logtest
}  // namespace Ovra
