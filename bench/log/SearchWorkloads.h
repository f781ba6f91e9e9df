#pragma once

// The search benchmark's file and its three readers, shared by the Google Benchmark program and
// the self-timed driver of the Windows build: the service's Search against sqlite3_get_table and
// against the floor, a loop of sqlite3_step and sqlite3_column_text that any reader must run.

#include <Ovra/Bases/StringConv.h>
#include <Ovra/LogService.h>

#include "BenchSupport.h"
#include "src/log/LogStatements.h"

#include <sqlite3.h>

#include <list>
#include <string>

namespace logbench {

const int kSearchRecords = 20000;

// A service with its table on a fresh file, and a raw connection set up as the service sets its
// own (busy timeout, synchronous=OFF).
struct Setup {
    explicit Setup(const char* tag) : file(tag) {
        service.Open(file.Wide());
        service.Create(Fields());
        sqlite3_open_v2(file.Utf8().c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr);
        sqlite3_busy_timeout(raw, 60000);
        sqlite3_exec(raw, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    }
    ~Setup() {
        sqlite3_close(raw);
        service.Close();
    }
    // Bulk load through the raw connection, in one transaction.
    void Fill(int count, long long firstTime) {
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            const std::string sql =
                Ovra::tcs_to_utf8(Ovra::logsql::Insert(firstTime + i, Values(i)));
            sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    }

    TempFile file;
    LogService service;
    sqlite3* raw = nullptr;
};

inline const std::string& SelectAllSql() {
    static const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::SelectAll(L""));
    return sql;
}

// Each reads every record once and returns how many it read.
inline int SearchWithGetTable(Setup& setup) {
    char** results = nullptr;
    int rows = 0, columns = 0;
    sqlite3_get_table(setup.raw, SelectAllSql().c_str(), &results, &rows, &columns, nullptr);
    sqlite3_free_table(results);
    return rows;
}

inline int SearchWithSteps(Setup& setup) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(setup.raw, SelectAllSql().c_str(), -1, &statement, nullptr);
    int rows = 0;
    const unsigned char* sink = nullptr;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        for (int i = 0, n = sqlite3_column_count(statement); i < n; ++i) {
            const unsigned char* text = sqlite3_column_text(statement, i);
            if (text) sink = text;
        }
        ++rows;
    }
    sqlite3_finalize(statement);
    return sink ? rows : -1;
}

inline int SearchWithService(Setup& setup) {
    std::list<std::list<LogService::FieldData>> rows;
    setup.service.Search(L"", rows);
    return static_cast<int>(rows.size());
}

}  // namespace logbench
