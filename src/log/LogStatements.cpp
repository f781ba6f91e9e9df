#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <cstddef>
#include <cstdio>
#include <iterator>

namespace Ovra {
namespace logsql {

const wchar_t kTableName[] = L"Ovra_Log";
const wchar_t kTimeField[] = L"Time";
const char kCountColumn[] = "COUNT(Time)";

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool IsIdentifierStart(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
}

// Appends the text form of `value` as the inside of an SQL string literal: quotes doubled.
void AppendLiteralBody(const LogVariant& value, std::wstring& out) {
    const std::size_t start = out.size();
    value.AppendTo(out);
    if (out.find(L'\'', start) == std::wstring::npos) return;
    const std::wstring raw = out.substr(start);
    out.resize(start);
    for (wchar_t c : raw) {
        out += c;
        if (c == L'\'') out += L'\'';
    }
}

void TrimBlanks(std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(L' ') + 1);
    text.erase(0, first);
}

// Removes from `text` everything up to and including the first `separator` and returns what came
// before it; without a separator the whole text is taken.
std::wstring SplitOff(std::wstring& text, wchar_t separator) {
    const std::size_t at = text.find(separator);
    std::wstring head;
    if (at == std::wstring::npos) {
        head.swap(text);
    } else {
        head = text.substr(0, at);
        text.erase(0, at + 1);
    }
    return head;
}

}  // namespace

bool IsPlainIdentifier(const std::wstring& name) {
    if (name.empty() || !IsIdentifierStart(name[0])) return false;
    for (wchar_t c : name) {
        if (!IsIdentifierStart(c) && !IsDigit(c)) return false;
    }
    return true;
}

std::wstring CreateTable(const std::list<LogService::Field>& fields) {
    std::wstring out = L"create table ";
    out += kTableName;
    out += L'(';
    out += kTimeField;
    out += L' ';
    out += LogVariant::GetTypeString(LogVariant::Int64);
    for (const LogService::Field& field : fields) {
        out += L", ";
        out += field.name;
        out += L' ';
        out += LogVariant::GetTypeString(field.type);
        if (field.constraint == 1) {
            out += L" unique";
        } else if (field.constraint == 2) {
            out += L" not null";
        }
    }
    out += L");";
    return out;
}

std::wstring CreateIndex(const std::wstring& column) {
    return L"CREATE INDEX " + column + L"_index ON " + kTableName + L"(" + column + L");";
}

std::wstring DropTable() {
    return std::wstring(L"drop table ") + kTableName;
}

std::string TableExistsQuery() {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer,
                  "select count(*) from sqlite_master where type='table' and name='%s'",
                  tcs_to_utf8(kTableName).c_str());
    return buffer;
}

std::wstring StoredCreateQuery() {
    return std::wstring(L"select sql from sqlite_master where type='table' and name='") +
           kTableName + L"'";
}

std::wstring Insert(long long time, const std::list<LogService::FieldData>& data) {
    std::wstring columns;
    std::wstring values;
    columns.reserve(32 + 16 * data.size());
    values.reserve(32 + 32 * data.size());
    columns += L"insert into ";
    columns += kTableName;
    columns += L'(';
    columns += kTimeField;
    values += L"values(";
    LogVariant(time).AppendTo(values);
    for (const LogService::FieldData& field : data) {
        columns += L", ";
        columns += field.name;
        if (field.value.GetType() == LogVariant::Text) {
            values += L", '";
            AppendLiteralBody(field.value, values);
            values += L'\'';
        } else {
            values += L", ";
            field.value.AppendTo(values);
            values += L' ';
        }
    }
    columns += L") ";
    values += L");";
    columns += values;
    return columns;
}

SearchBuild Search(const std::map<std::wstring, LogService::SearchQuery>& conditions,
                   std::wstring& statement) {
    if (conditions.empty()) return SearchBuild::kEmpty;
    for (const auto& condition : conditions) {
        if (!IsPlainIdentifier(condition.first)) return SearchBuild::kBadName;
    }
    std::wstring out = L"select * from ";
    out += kTableName;
    out += L" where ";
    for (auto it = conditions.begin(); it != conditions.end(); ++it) {
        const LogService::SearchQuery& query = it->second;
        out += it->first;
        out += L' ';
        switch (query.compare) {
            case 0:
                out += L"= '";
                AppendLiteralBody(query.value, out);
                out += L'\'';
                break;
            case 1:
                out += L"LIKE '%";
                AppendLiteralBody(query.value, out);
                out += L"%'";
                break;
            case 2:
                // The bounds as they stand: a text bound is SQL, not a literal.
                out += L"between ";
                query.value.AppendTo(out);
                out += L" AND ";
                query.upperValue.AppendTo(out);
                break;
            default:
                break;
        }
        if (std::next(it) != conditions.end()) out += query.relation ? L" OR " : L" AND ";
    }
    statement.swap(out);
    return SearchBuild::kBuilt;
}

std::wstring SelectAll(const std::wstring& clause) {
    return std::wstring(L"SELECT * FROM ") + kTableName + L" " + clause;
}

std::wstring Count(const std::wstring& clause) {
    return std::wstring(L"SELECT COUNT(") + kTimeField + L") FROM " + kTableName + L" " + clause;
}

std::wstring DeleteBefore(long long cutoff) {
    std::wstring out = L"delete from ";
    out += kTableName;
    out += L" where ";
    out += kTimeField;
    out += L" < ";
    LogVariant(cutoff).AppendTo(out);
    return out;
}

namespace {
// delete from Ovra_Log where rowid in (select rowid from Ovra_Log<filter> order by Time limit
// <rows>)
std::wstring DeleteOldestRows(const std::wstring& filter, unsigned int rows) {
    std::wstring out = L"delete from ";
    out += kTableName;
    out += L" where rowid in (select rowid from ";
    out += kTableName;
    out += filter;
    out += L" order by ";
    out += kTimeField;
    out += L" limit ";
    out += std::to_wstring(rows);
    out += L')';
    return out;
}
}  // namespace

std::wstring DeleteOldestBefore(long long cutoff, unsigned int rows) {
    std::wstring filter = L" where ";
    filter += kTimeField;
    filter += L" < ";
    LogVariant(cutoff).AppendTo(filter);
    return DeleteOldestRows(filter, rows);
}

std::wstring DeleteOldest(unsigned int rows) {
    return DeleteOldestRows(std::wstring(), rows);
}

const char kUsedBytesQuery[] =
    "select (p.page_count - f.freelist_count) * s.page_size from pragma_page_count as p, "
    "pragma_freelist_count as f, pragma_page_size as s";
const char kAutoVacuumQuery[] = "PRAGMA auto_vacuum";
const char kIncrementalVacuum[] = "PRAGMA incremental_vacuum";
const char kVacuum[] = "VACUUM";

const char* JournalMode(bool writeAheadLog) {
    return writeAheadLog ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE";
}

const char* JournalModeName(bool writeAheadLog) {
    return writeAheadLog ? "wal" : "delete";
}

std::wstring ReadAfter(long long rowid, std::size_t limit) {
    std::wstring out = L"SELECT rowid, * FROM ";
    out += kTableName;
    out += L" WHERE rowid > " + std::to_wstring(rowid) + L" ORDER BY rowid";
    if (limit) out += L" LIMIT " + std::to_wstring(limit);
    return out;
}

std::wstring CursorCheck(long long rowid) {
    return std::wstring(L"SELECT (SELECT ") + kTimeField + L" FROM " + kTableName +
           L" WHERE rowid = " + std::to_wstring(rowid) + L"), (SELECT max(rowid) FROM " +
           kTableName + L")";
}

std::wstring LastRecord() {
    return std::wstring(L"SELECT rowid, ") + kTimeField + L" FROM " + kTableName +
           L" ORDER BY rowid DESC LIMIT 1";
}

const char kDataVersionQuery[] = "PRAGMA data_version";

const wchar_t kTextIndexName[] = L"Ovra_LogText";

namespace {
// ", A, B" with each column prefixed: ", new.A, new.B".
std::wstring ColumnList(const std::list<std::wstring>& columns, const wchar_t* prefix) {
    std::wstring out;
    for (const std::wstring& column : columns) out += L", " + (prefix + column);
    return out;
}
}  // namespace

std::wstring CreateTextIndex(const std::list<std::wstring>& columns) {
    const std::wstring index = kTextIndexName;
    const std::wstring names = ColumnList(columns, L"");
    const std::wstring insertNew = L"INSERT INTO " + index + L"(rowid" + names +
                                   L") VALUES (new.rowid" + ColumnList(columns, L"new.") + L");";
    const std::wstring deleteOld = L"INSERT INTO " + index + L"(" + index + L", rowid" + names +
                                   L") VALUES ('delete', old.rowid" + ColumnList(columns, L"old.") +
                                   L");";
    const std::wstring trigger = L"CREATE TRIGGER " + index + L"_";
    const std::wstring on = std::wstring(L" ON ") + kTableName + L" BEGIN ";
    return L"BEGIN;CREATE VIRTUAL TABLE " + index + L" USING fts5(" + names.substr(2) +
           L", content='" + kTableName + L"', content_rowid='rowid');" + trigger +
           L"insert AFTER INSERT" + on + insertNew + L" END;" + trigger + L"delete AFTER DELETE" +
           on + deleteOld + L" END;" + trigger + L"update AFTER UPDATE" + on + deleteOld +
           insertNew + L" END;INSERT INTO " + index + L"(" + index +
           L") VALUES ('rebuild');COMMIT;";
}

std::string TextIndexExistsQuery() {
    return "select count(*) from sqlite_master where type='table' and name='" +
           tcs_to_utf8(kTextIndexName) + "'";
}

std::wstring TextSearch() {
    return std::wstring(L"SELECT * FROM ") + kTableName + L" WHERE rowid IN (SELECT rowid FROM " +
           kTextIndexName + L" WHERE " + kTextIndexName + L" MATCH ?1) ORDER BY rowid";
}

std::wstring TextCount() {
    return std::wstring(L"SELECT count(*) FROM ") + kTextIndexName + L" WHERE " + kTextIndexName +
           L" MATCH ?1";
}

std::map<std::wstring, LogVariant::Type> ParseColumnTypes(const std::wstring& createText) {
    std::map<std::wstring, LogVariant::Type> types;
    const std::size_t open = createText.find(L'(');
    const std::size_t close = createText.rfind(L')');
    if (open == std::wstring::npos || close == std::wstring::npos || close <= open) return types;
    std::wstring rest = createText.substr(open + 1, close - open - 1);
    for (;;) {
        std::wstring item = SplitOff(rest, L',');
        TrimBlanks(item);
        if (item.empty()) break;
        std::wstring name = SplitOff(item, L' ');
        TrimBlanks(name);
        std::wstring word = SplitOff(item, L' ');
        TrimBlanks(word);
        if (name.empty() || word.empty()) break;
        types[name] = LogVariant::GetType(word.c_str());
    }
    return types;
}

}  // namespace logsql
}  // namespace Ovra
