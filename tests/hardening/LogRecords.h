#pragma once

// The record shape of the hardening programs: every record carries a unique sequence number, so
// each acknowledged record can be looked up again after a failure; Batch names the insert that
// wrote it.

#include <Ovra/LogService.h>

#include <list>
#include <set>
#include <string>

#if !defined(_WIN32)
#include <sqlite3.h>
#endif

namespace Ovra {
namespace hardening {

using Rows = std::list<std::list<LogService::FieldData>>;

// Creates the table and its indexes unless the file has them already. 0 when the table is there.
inline int EnsureTable(LogService& log) {
    const std::list<LogService::Field> fields = {
        {L"Seq", LogVariant::Int64}, {L"Batch", LogVariant::Int32}, {L"Note", LogVariant::Text}};
    const int created = log.Create(fields);
    return created == 116 ? 0 : created != 0 ? created : log.CreateIndex(fields);
}

// The note holds a quote on purpose: a text that is not escaped would break the statement.
inline std::list<LogService::FieldData> RecordData(long long seq, int batch) {
    return {{L"Seq", LogVariant(seq)},
            {L"Batch", LogVariant(batch)},
            {L"Note", LogVariant(L"record " + std::to_wstring(seq) + L" isn't lost")}};
}

// The sequence numbers of `rows`; `duplicates` counts those seen more than once.
inline std::set<long long> SequenceNumbers(const Rows& rows, size_t& duplicates) {
    std::set<long long> seqs;
    duplicates = 0;
    for (const auto& row : rows) {
        for (const LogService::FieldData& field : row) {
            if (field.name == L"Seq") duplicates += !seqs.insert(field.value).second;
        }
    }
    return seqs;
}

#if !defined(_WIN32)
// SQLite's own verdict on a file ("ok" when sound), through this process's SQLite, which the
// library shares in the native builds.
inline std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string verdict = "cannot check";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return verdict;
}
#endif

}  // namespace hardening
}  // namespace Ovra
