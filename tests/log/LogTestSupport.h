#pragma once

// Shared helpers of the log database tests: raw SQLite access to the files the service writes, a
// reach into the service's private state, and a switchable failing allocator for SQLite.

#include <Ovra/LogService.h>

#include "src/log/LogServiceInternals.h"
#include "tests/support/ScratchDir.h"

#include <sqlite3.h>

#include <atomic>
#include <list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace Ovra {

// Friend of LogService: test-only reach into its connection, column types and lock.
struct LogServiceTestAccess {
    static CppSQLite3DB& Db(LogService& service) { return *service.m_db; }
    static std::map<std::wstring, LogVariant::Type> Types(const LogService& service) {
        return service.m_fieldTypes;
    }
    static Cs& Lock(LogService& service) { return service.m_cs; }
    static unsigned int Waiting(LogService& service) { return service.m_lockTurns->WaitingNow(); }
};

namespace logtest {

using Rows = std::list<std::list<LogService::FieldData>>;
using Types = std::map<std::wstring, LogVariant::Type>;
using T = LogVariant;
using testing_support::ScratchDir;

// A connection of this test binary's own SQLite, independent of the service's.
class RawDb {
public:
    explicit RawDb(const std::string& utf8Path) {
        if (sqlite3_open(utf8Path.c_str(), &m_db) != SQLITE_OK) throw std::runtime_error(utf8Path);
    }
    ~RawDb() { sqlite3_close(m_db); }
    int Exec(const std::string& sql) { return sqlite3_exec(m_db, sql.c_str(), 0, 0, 0); }
    // The first value of a query as text.
    std::string Scalar(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
        std::string value = "<none>";
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0)) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        return value;
    }

private:
    sqlite3* m_db = nullptr;
};

// Replaces the allocator of this binary's SQLite with one that fails on request while it lives.
// Natively the service shares that SQLite. Create and destroy it while no connection is open.
class SqliteAllocFailure {
public:
    SqliteAllocFailure() {
        sqlite3_shutdown();
        sqlite3_config(SQLITE_CONFIG_GETMALLOC, &Real());
        sqlite3_mem_methods failing = Real();
        failing.xMalloc = [](int size) { return Failing() ? nullptr : Real().xMalloc(size); };
        failing.xRealloc = [](void* old, int size) {
            return Failing() ? nullptr : Real().xRealloc(old, size);
        };
        sqlite3_config(SQLITE_CONFIG_MALLOC, &failing);
        sqlite3_initialize();
    }
    ~SqliteAllocFailure() {
        Fail(false);
        sqlite3_shutdown();
        sqlite3_config(SQLITE_CONFIG_MALLOC, &Real());
        sqlite3_initialize();
    }
    void Fail(bool fail) { Failing() = fail; }

private:
    static sqlite3_mem_methods& Real() {
        static sqlite3_mem_methods real;
        return real;
    }
    static std::atomic<bool>& Failing() {
        static std::atomic<bool> failing{false};
        return failing;
    }
};

inline std::map<std::wstring, LogVariant> ByName(const std::list<LogService::FieldData>& record) {
    std::map<std::wstring, LogVariant> values;
    for (const LogService::FieldData& field : record) values[field.name] = field.value;
    return values;
}

// The times of every record, in time order; {-1} when the search fails.
inline std::vector<long long> Times(LogService& service, const wchar_t* clause = L"") {
    Rows rows;
    if (service.Search(std::wstring(clause) + L" ORDER BY Time", rows) != 0) return {-1};
    std::vector<long long> times;
    for (const auto& row : rows) times.push_back(ByName(row).at(L"Time"));
    return times;
}

}  // namespace logtest
}  // namespace Ovra
