#pragma once

// The record shape shared by the hardening programs: every record carries a unique sequence
// number, so each acknowledged record can be looked up again after a failure.

#include <Ovra/LogService.h>

#include <list>
#include <set>
#include <string>

namespace Ovra {
namespace hardening {

// One search result: the typed values of a record.
using Row = std::list<LogService::FieldData>;

inline std::list<LogService::Field> RecordFields() {
    return {{L"Seq", LogVariant::Int64, 0},
            {L"Writer", LogVariant::Int32, 0},
            {L"Note", LogVariant::Text, 0}};
}

// Creates the table and its indexes unless the file has them already. 0 when the table is there.
inline int EnsureTable(LogService& log) {
    const int created = log.Create(RecordFields());
    if (created == 116) return 0;
    if (created != 0) return created;
    return log.CreateIndex(RecordFields());
}

// The note holds a quote on purpose: a text that is not escaped would break the statement.
inline std::list<LogService::FieldData> RecordData(long long seq, int writer) {
    return {{L"Seq", LogVariant(seq)},
            {L"Writer", LogVariant(writer)},
            {L"Note", LogVariant(L"record " + std::to_wstring(seq) + L" isn't lost")}};
}

// The sequence numbers of `rows`; `duplicates` counts the numbers seen more than once.
inline std::set<long long> SequenceNumbers(const std::list<Row>& rows,
                                           size_t* duplicates = nullptr) {
    std::set<long long> seqs;
    size_t repeated = 0;
    for (const Row& row : rows) {
        for (const LogService::FieldData& field : row) {
            if (field.name == L"Seq" && !seqs.insert(static_cast<long long>(field.value)).second)
                ++repeated;
        }
    }
    if (duplicates) *duplicates = repeated;
    return seqs;
}

}  // namespace hardening
}  // namespace Ovra
