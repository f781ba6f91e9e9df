// LogService: search, as a list or one record at a time, and counting. All three step through
// prepared statements and read each row as it comes.
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogRows.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <string>

namespace Ovra {

using namespace logservice;

int LogService::Search(const std::wstring& clause, std::list<std::list<FieldData>>& rows) {
    return Guarded(nullptr, [&] { return RunSearch(logsql::SelectAll(clause), rows); });
}

int LogService::Search(const std::map<std::wstring, SearchQuery>& conditions,
                       std::list<std::list<FieldData>>& rows) {
    return Guarded(nullptr, [&] {
        std::wstring statement;
        switch (logsql::Search(conditions, statement)) {
            case logsql::SearchBuild::kEmpty:
                return kEmptyInput;
            case logsql::SearchBuild::kBadName:
                rows.clear();
                return kFailed;
            case logsql::SearchBuild::kBuilt:
                break;
        }
        return RunSearch(statement, rows);
    });
}

int LogService::RunSearch(const std::wstring& statement, std::list<std::list<FieldData>>& rows) {
    rows.clear();
    // All or nothing: the records go to `rows` only once every row has been read.
    std::list<std::list<FieldData>> found;
    logrows::RecordReader reader(m_fieldTypes);
    const int result = Guarded(&m_broken, [&] {
        StepRows(statement, [&](const CppSQLite3Rows& row) {
            found.emplace_back();
            reader.Read(row, found.back());
            return false;
        });
        return kOk;
    });
    if (result == kOk) rows.splice(rows.end(), found);
    return result;
}

int LogService::Search(const std::wstring& clause, LogSearchVisitor& visitor) {
    return Guarded(&m_broken, [&] {
        logrows::RecordReader reader(m_fieldTypes, true);
        logrows::Row record;
        StepRows(logsql::SelectAll(clause), [&](const CppSQLite3Rows& row) {
            record.clear();
            reader.Read(row, record);
            VisitGuard visiting(m_visiting);
            return visitor.OnLogRecord(record) != 0;
        });
        return kOk;
    });
}

int LogService::GetRecordCount(const std::wstring& clause, unsigned long long& count) {
    count = 0;
    bool first = true;
    long long counted = 0;
    const int result = Guarded(&m_broken, [&] {
        // Every row is stepped, as for a search: later statements of the clause run too.
        StepRows(logsql::Count(clause), [&](const CppSQLite3Rows& row) {
            if (first) {
                first = false;
                const char* text = row.Text(row.ColumnIndex(logsql::kCountColumn));
                if (text) counted = logrows::ParseInt64(text);
            }
            return false;
        });
        return kOk;
    });
    if (result == kOk) count = static_cast<unsigned long long>(counted);
    return result;
}

int LogService::GetSearchQuery(const std::map<std::wstring, SearchQuery>& conditions,
                               std::wstring& statement) {
    const int built = Guarded(nullptr, [&] {
        return logsql::Search(conditions, statement) == logsql::SearchBuild::kBuilt ? 1 : 0;
    });
    return built == 1 ? 1 : 0;
}

}  // namespace Ovra
