#pragma once

// Turning the text of a result table back into typed records.

#include <Ovra/LogService.h>

#include <list>
#include <map>
#include <string>
#include <vector>

namespace Ovra {

class CppSQLite3Table;

namespace logrows {

// The C library's decimal readings (_wtoi, _wtoi64, _wtof) over UTF-8 text: leading white space
// and a sign are accepted, reading stops at the first character that cannot continue the number,
// no number gives 0, and integers out of range saturate.
int ParseInt(const char* text);
long long ParseInt64(const char* text);
double ParseDouble(const char* text);

using Row = std::list<LogService::FieldData>;

// Reads result rows as records: for each column of `types` (map order) whose value is not NULL,
// its name and its value read as its type.
class RecordReader {
public:
    explicit RecordReader(const std::map<std::wstring, LogVariant::Type>& types);

    // Finds every column in the result once, by its UTF-8 name; `source.ColumnIndex` raises for
    // a name that is not there.
    template <typename Source>
    void Resolve(const Source& source) {
        for (Column& column : m_columns) column.index = source.ColumnIndex(column.utf8.c_str());
    }

    // Appends the values of one row to `record`; values[i] is result column i, null for NULL.
    template <typename Values>
    void Read(const Values& values, Row& record) {
        for (const Column& column : m_columns) {
            const char* text = values(column.index);
            if (text) Append(column, text, record);
        }
    }

private:
    struct Column {
        const std::wstring* name;
        std::string utf8;
        LogVariant::Type type;
        int index;
    };
    void Append(const Column& column, const char* text, Row& record);

    std::vector<Column> m_columns;
    std::wstring m_scratch;
};

// Appends one record per row of `table` to `rows`. A column missing from the table fails with
// "Invalid field name requested" as soon as there is a row. A record whose reading fails is not
// added.
void AppendRecords(const CppSQLite3Table& table,
                   const std::map<std::wstring, LogVariant::Type>& types, std::list<Row>& rows);

}  // namespace logrows
}  // namespace Ovra
