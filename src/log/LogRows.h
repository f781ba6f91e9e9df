#pragma once

// Turning the text of a result table back into typed records.

#include <Ovra/LogService.h>

#include <list>
#include <map>
#include <string>

namespace Ovra {

class CppSQLite3Table;

namespace logrows {

// The C library's decimal readings (_wtoi, _wtoi64, _wtof) over UTF-8 text: leading white space
// and a sign are accepted, reading stops at the first character that cannot continue the number,
// no number gives 0, and integers out of range saturate.
int ParseInt(const char* text);
long long ParseInt64(const char* text);
double ParseDouble(const char* text);

// Appends one record per row of `table` to `rows`: for each column of `types` (map order) whose
// value is not NULL, its name and its value read as its type. A column missing from the table
// fails with "Invalid field name requested" as soon as there is a row. A record whose reading
// fails is not added.
void AppendRecords(const CppSQLite3Table& table,
                   const std::map<std::wstring, LogVariant::Type>& types,
                   std::list<LogService::Record>& rows);

}  // namespace logrows
}  // namespace Ovra
