#pragma once

// Shared helpers of the log database tests: raw SQLite access to the files the service writes, a
// reach into the service's connection and its protected operations, a collecting visitor.

#include <Ovra/LogService.h>

#include "src/log/LogServiceInternals.h"
#include "tests/support/ScratchDir.h"

#include <sqlite3.h>

#include <functional>
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

// Opens the protected operations to the tests.
class TestableLogService : public LogService {
public:
    using LogService::DeleteOldRecord;
    using LogService::DropTable;
    using LogService::ExistTable;
};

// Runs `sql` on the file at `utf8Path` through this binary's own SQLite, on a connection of its
// own: the first value of the result as text, "<none>" when there is none.
inline std::string RawQuery(const std::string& utf8Path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value = "<none>";
    sqlite3_open(utf8Path.c_str(), &db);
    const auto first = [](void* out, int, char** values, char**) {
        if (values[0]) *static_cast<std::string*>(out) = values[0];
        return 1;  // the first value is enough
    };
    sqlite3_exec(db, sql.c_str(), first, &value, nullptr);
    sqlite3_close(db);
    return value;
}

// Collects what a streaming search hands over; `onRecord`, when set, says whether to stop.
struct Collector : LogSearchVisitor {
    int OnLogRecord(const std::list<LogService::FieldData>& record) override {
        rows.push_back(record);
        return onRecord && onRecord();
    }
    Rows rows;
    std::function<bool()> onRecord;
};

// Every value of every record, with its type, as comparable text.
inline std::vector<std::wstring> Describe(const Rows& rows) {
    std::vector<std::wstring> out;
    for (const auto& row : rows) {
        out.emplace_back();
        for (const auto& field : row)
            out.back() += (out.back().empty() ? L"" : L" ") + field.name + L':' +
                          std::to_wstring(field.value.GetType()) + L'=' + field.value.ToString();
    }
    return out;
}

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
