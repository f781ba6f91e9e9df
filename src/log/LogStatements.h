#pragma once

// The SQL texts of the log table. They are part of the file format (the CREATE text is stored in
// the file and parsed back), so every blank counts.

#include <Ovra/LogService.h>

#include <list>
#include <map>
#include <string>

namespace Ovra {
namespace logsql {

extern const wchar_t kTableName[];  // "Ovra_Log"
extern const wchar_t kTimeField[];  // "Time"

// [A-Za-z_][A-Za-z0-9_]*: the only column names ever spliced into SQL.
bool IsPlainIdentifier(const std::wstring& name);

// create table Ovra_Log(Time INT64, <name> <TYPE>[ unique| not null], ...);
std::wstring CreateTable(const std::list<LogService::Field>& fields);
// CREATE INDEX <column>_index ON Ovra_Log(<column>);
std::wstring CreateIndex(const std::wstring& column);
std::wstring DropTable();
// select count(*) from sqlite_master where type='table' and name='Ovra_Log'
std::string TableExistsQuery();
// select sql from sqlite_master where type='table' and name='Ovra_Log'
std::wstring StoredCreateQuery();

// insert into Ovra_Log(Time, a, b) values(<time>, '<text>', <number> );
std::wstring Insert(long long time, const std::list<LogService::FieldData>& data);

enum class SearchBuild { kBuilt, kEmpty, kBadName };
// select * from Ovra_Log where <conditions>; `statement` is set only when built.
SearchBuild Search(const std::map<std::wstring, LogService::SearchQuery>& conditions,
                   std::wstring& statement);
// SELECT * FROM Ovra_Log <clause>
std::wstring SelectAll(const std::wstring& clause);
// SELECT COUNT(Time) FROM Ovra_Log <clause>
std::wstring Count(const std::wstring& clause);
extern const char kCountColumn[];  // "COUNT(Time)"

// delete from Ovra_Log where Time < <cutoff>
std::wstring DeleteBefore(long long cutoff);
// The `rows` oldest records older than `cutoff`:
// delete from Ovra_Log where rowid in (select rowid from Ovra_Log where Time < <cutoff> order by
// Time limit <rows>)
std::wstring DeleteOldestBefore(long long cutoff, unsigned int rows);
// The `rows` oldest records, whatever their time.
std::wstring DeleteOldest(unsigned int rows);

// The bytes of the pages in use: (page_count - freelist_count) * page_size.
extern const char kUsedBytesQuery[];
extern const char kAutoVacuumQuery[];  // PRAGMA auto_vacuum: 2 is incremental
extern const char kIncrementalVacuum[];
extern const char kVacuum[];
// PRAGMA journal_mode=WAL or =DELETE; SQLite answers with the mode in force, in lower case.
const char* JournalMode(bool writeAheadLog);
const char* JournalModeName(bool writeAheadLog);

// Cursors. Column 0 is the rowid, then the table's columns:
// SELECT rowid, * FROM Ovra_Log WHERE rowid > <rowid> ORDER BY rowid[ LIMIT <limit>]
std::wstring ReadAfter(long long rowid, std::size_t limit);
// The Time of the record <rowid> (NULL when it is gone) and the largest rowid (NULL when empty).
std::wstring CursorCheck(long long rowid);
// SELECT rowid, Time FROM Ovra_Log ORDER BY rowid DESC LIMIT 1
std::wstring LastRecord();
extern const char kDataVersionQuery[];

// The full-text index: an FTS5 table with external content, its rowid that of Ovra_Log, and the
// triggers that keep it in step, created and filled in one transaction.
extern const wchar_t kTextIndexName[];  // "Ovra_LogText"
std::wstring CreateTextIndex(const std::list<std::wstring>& columns);
std::string TextIndexExistsQuery();
// The records whose rowid the query ?1 matches, oldest first; and their count.
std::wstring TextSearch();
std::wstring TextCount();

// The column types declared by a stored CREATE text: the items between the first "(" and the last
// ")", each "<name> <type word> ..."; the reading stops at the first item without a name or type.
std::map<std::wstring, LogVariant::Type> ParseColumnTypes(const std::wstring& createText);

}  // namespace logsql
}  // namespace Ovra
