// LogService: a list of records written in one transaction.
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <string>

namespace Ovra {

using namespace logservice;

int LogService::Insert(const std::list<Record>& records) {
    if (records.empty()) return kEmptyInput;
    for (const Record& record : records) {
        if (record.data.empty()) return kEmptyInput;
    }
    for (const Record& record : records) {
        for (const FieldData& field : record.data) {
            if (!logsql::IsPlainIdentifier(field.name)) return kFailed;
        }
    }
    return Guarded(&m_broken, [&] {
        std::string sql = "BEGIN;";
        for (const Record& record : records) {
            const std::wstring insert = logsql::Insert(record.time, record.data);
            // Sized by the first record, so the text is not copied over and over as it grows.
            if (&record == &records.front()) sql.reserve(insert.size() * 3 / 2 * records.size());
            AppendUtf8(insert.data(), insert.size(), sql);
        }
        sql += "COMMIT;";

        ForegroundLock lock(*this);
        return ExecuteAllOrNothing(Db(), sql, &m_broken);
    });
}

}  // namespace Ovra
