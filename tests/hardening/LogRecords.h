#pragma once

// The record shape of the hardening programs: every record carries a unique sequence number, so
// each acknowledged record can be looked up again after a failure; Batch names the insert that
// wrote it, which writes 1 + Batch % 5 records.

#include <Ovra/LogService.h>

#include <filesystem>
#include <list>
#include <set>
#include <string>

namespace Ovra::hardening {

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

// What a reopening finds wrong with the closed log file at `path`, "" when nothing: SQLite's own
// verdict, a reported corruption, a batch half-written or repeated, one of `acknowledged` missing.
// `present` gets the number of records.
inline std::string Damage(const std::string& path, const std::set<long long>& acknowledged,
                          size_t& present) {
    std::string damage;
    LogService log;
    Rows rows, wrong;
    if (log.Open(std::filesystem::path(path).wstring()) != 0 || log.IsBrokenLogFile() != 0 ||
        log.Search(L"", rows) != 0 ||
        log.Search(L"GROUP BY Batch HAVING COUNT(*) <> 1 + Batch % 5 OR (SELECT "
                   L"group_concat(integrity_check) FROM pragma_integrity_check) <> 'ok'",
                   wrong) != 0 ||
        !wrong.empty())
        damage += "unsound, unreadable, broken or a batch half-written; ";
    std::set<long long> seqs;
    for (const auto& row : rows)
        for (const LogService::FieldData& field : row)
            if (field.name == L"Seq") seqs.insert(field.value);
    for (long long seq : acknowledged)
        if (!seqs.count(seq)) damage += "lost " + std::to_string(seq) + "; ";
    present = seqs.size();
    return damage;
}

}  // namespace Ovra::hardening
