#pragma once

// Shared helpers of the log database tests: raw SQLite access to the files the service writes, a
// reach into the service's connection, and a switchable failing allocator for SQLite.

#include <Ovra/LogService.h>

#include "src/log/LogServiceInternals.h"
#include "tests/support/ScratchDir.h"

#include <sqlite3.h>

#include <vector>

namespace Ovra {

// Friend of LogService: test-only reach into its connection.
struct LogServiceTestAccess {
    static CppSQLite3DB& Db(LogService& service) { return *service.m_db; }
};

namespace logtest {

using Rows = std::list<std::list<LogService::FieldData>>;
using T = LogVariant;
using testing_support::ScratchDir;

// A connection of this test binary's own SQLite, independent of the service's.
class RawDb {
public:
    explicit RawDb(const std::string& utf8Path) { sqlite3_open(utf8Path.c_str(), &m_db); }
    ~RawDb() { sqlite3_close(m_db); }
    int Exec(const std::string& sql) { return sqlite3_exec(m_db, sql.c_str(), 0, 0, 0); }
    // The first value of a query as text.
    std::string Scalar(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
        const unsigned char* text =
            sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
        const std::string value = text ? reinterpret_cast<const char*>(text) : "<none>";
        sqlite3_finalize(statement);
        return value;
    }

private:
    sqlite3* m_db = nullptr;
};

// Replaces the allocator of this binary's SQLite with one that fails on request while it lives.
// Natively the service shares that SQLite. Create and destroy it while no connection is open.
inline sqlite3_mem_methods g_realAlloc;
inline std::atomic<bool> g_fail{false};
class SqliteAllocFailure {
public:
    SqliteAllocFailure() {
        sqlite3_shutdown();
        sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_realAlloc);
        sqlite3_mem_methods failing = g_realAlloc;
        failing.xMalloc = [](int size) { return g_fail ? nullptr : g_realAlloc.xMalloc(size); };
        failing.xRealloc = [](void* old, int size) {
            return g_fail ? nullptr : g_realAlloc.xRealloc(old, size);
        };
        sqlite3_config(SQLITE_CONFIG_MALLOC, &failing);
        sqlite3_initialize();
    }
    ~SqliteAllocFailure() {
        g_fail = false;
        sqlite3_shutdown();
        sqlite3_config(SQLITE_CONFIG_MALLOC, &g_realAlloc);
        sqlite3_initialize();
    }
    void Fail(bool fail) { g_fail = fail; }
};

// The times of every record, in time order; {-1} when the search fails.
inline std::vector<long long> Times(LogService& service) {
    Rows rows;
    if (service.Search(L"ORDER BY Time", rows) != 0) return {-1};
    std::vector<long long> times;
    for (const auto& row : rows)
        for (const auto& field : row)
            if (field.name == L"Time") times.push_back(field.value);
    return times;
}

}  // namespace logtest
}  // namespace Ovra
