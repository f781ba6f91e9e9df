#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

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
