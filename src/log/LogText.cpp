// LogService: the opt-in full-text index (FTS5, external content kept in step by triggers).
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogRows.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <set>
#include <string>

namespace Ovra {

using namespace logservice;

namespace {

// FTS5 reports every query it cannot parse or run (syntax, an unknown column filter) as a plain
// SQLITE_ERROR; the index was checked to exist first, so that is what such an error means.
template <typename Body>
int TextQuery(Body&& body) {
    try {
        body();
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        if (error.ErrorCode() == SQLITE_ERROR) return kBadArgument;
        throw;
    }
}

}  // namespace

int LogService::CreateTextIndex(const std::list<std::wstring>& columns) {
    if (columns.empty()) return kEmptyInput;
    const std::set<std::wstring> distinct(columns.begin(), columns.end());
    if (distinct.size() != columns.size()) return kFailed;
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);
        if (!TableExists()) return kNoTable;
        for (const std::wstring& column : columns) {
            const auto type = m_fieldTypes.find(column);
            if (!logsql::IsPlainIdentifier(column) || type == m_fieldTypes.end() ||
                type->second != LogVariant::Text) {
                return kFailed;
            }
        }
        if (Db().QueryInt(logsql::TextIndexExistsQuery().c_str()) > 0) return kTableExists;
        return ExecuteAllOrNothing(Db(), tcs_to_utf8(logsql::CreateTextIndex(columns)), &m_broken);
    });
}

int LogService::SearchText(const std::wstring& query, LogSearchVisitor& visitor) {
    const std::string bound = tcs_to_utf8(query);
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);
        if (Db().QueryInt(logsql::TextIndexExistsQuery().c_str()) == 0) return kNoTable;
        logrows::RecordReader reader(m_fieldTypes, true);
        logrows::Row record;
        return TextQuery([&] {
            StepRows(
                logsql::TextSearch(),
                [&](const CppSQLite3Rows& row) {
                    record.clear();
                    reader.Read(row, record);
                    VisitGuard visiting(m_visiting);
                    return visitor.OnLogRecord(record) != 0;
                },
                &bound);
        });
    });
}

int LogService::GetTextCount(const std::wstring& query, unsigned long long& count) {
    count = 0;
    const std::string bound = tcs_to_utf8(query);
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);
        if (Db().QueryInt(logsql::TextIndexExistsQuery().c_str()) == 0) return kNoTable;
        return TextQuery([&] {
            StepRows(
                logsql::TextCount(),
                [&](const CppSQLite3Rows& row) {
                    count = static_cast<unsigned long long>(logrows::ParseInt64(row.Text(0)));
                    return true;
                },
                &bound);
        });
    });
}

}  // namespace Ovra
