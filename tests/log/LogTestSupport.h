#pragma once

// Shared helpers of the log database tests: a scratch folder per test, raw SQLite access to the
// files the service writes, a reach into the service's private state, and a switchable failing
// allocator for SQLite.

#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "tests/support/ScratchDir.h"

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace Ovra {

// Friend of LogService: test-only reach into its connection and column types.
struct LogServiceTestAccess {
    static CppSQLite3DB& Db(LogService& service) { return *service.m_db; }
    static std::map<std::wstring, LogVariant::Type> Types(const LogService& service) {
        return service.m_fieldTypes;
    }
};

namespace logtest {

// A search result: the typed values of each record.
using Row = std::list<LogService::FieldData>;
using Rows = std::list<Row>;

// A fresh, empty folder that is removed with everything in it at the end of the test.
using testing_support::ScratchDir;

// A connection of this test binary's own SQLite, independent of the service's.
class RawDb {
public:
    explicit RawDb(const std::string& utf8Path);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;
    int Exec(const std::string& sql);
    // The rows of a query, each value as text ("NULL" for SQL NULL).
    std::vector<std::vector<std::string>> Rows(const std::string& sql);
    std::string Scalar(const std::string& sql);
    sqlite3* Handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

// Replaces the allocator of this binary's SQLite with one that fails on request, for as long as
// it lives. Natively the service shares that SQLite; the Windows DLL carries its own copy.
// Must be created and destroyed while no connection is open.
class SqliteAllocFailure {
public:
    SqliteAllocFailure();
    ~SqliteAllocFailure();
    void Fail(bool fail) { s_fail = fail; }

private:
    static void* Malloc(int size);
    static void* Realloc(void* old, int size);
    static std::atomic<bool> s_fail;
    static sqlite3_mem_methods s_real;
};

// The declaration of a field.
LogService::Field MakeField(const std::wstring& name, LogVariant::Type type, int constraint = 0);

// One column value of a record.
LogService::FieldData Data(const std::wstring& name, const LogVariant& value);

// The values of a record by column name.
std::map<std::wstring, LogVariant> ByName(const Row& record);

}  // namespace logtest
}  // namespace Ovra
