// Arbitrary condition maps (names, kinds, types and values) through the search-statement builder:
// whatever it builds must be one read-only statement for SQLite, or be refused; never two. Text
// range bounds are the exception: they are written as they stand, as SQL of the caller's.
#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using Ovra::LogVariant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes as a little script of conditions.
    std::size_t at = 0;
    const auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    const auto text = [&] {
        std::string bytes;
        for (std::size_t n = byte() % 24; n > 0 && at < size; --n) bytes += char(byte());
        return Ovra::utf8_to_tcs(bytes);
    };
    // Every text form there is: integers, fixed-point reals (infinite and NaN ones too), text.
    const auto value = [&] {
        const int type = byte() % 5;
        long long bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
        double real;
        std::memcpy(&real, &bits, sizeof real);
        return type == 1   ? LogVariant(bits)
               : type == 2 ? LogVariant(static_cast<float>(real))
               : type == 3 ? LogVariant(real)
               : type == 4 ? LogVariant(text())
                           : LogVariant();
    };
    std::map<std::wstring, Ovra::LogService::SearchQuery> conditions;
    for (int i = 0; i < 4 && at < size; ++i) {
        Ovra::LogService::SearchQuery& query = conditions[text()];
        query.relation = byte() % 2;
        query.compare = byte() % 4;
        query.value = value();
        query.upperValue = value();
    }
    std::wstring statement;
    if (Ovra::logsql::Search(conditions, statement) != Ovra::logsql::SearchBuild::kBuilt) return 0;
    // A table with exactly the condition columns, so that names resolve.
    std::string create = "create table Ovra_Log(Time INT64";
    for (const auto& [name, query] : conditions) {
        if (!Ovra::logsql::IsPlainIdentifier(name)) std::abort();  // built from a bad name
        if (query.compare == 2 && (query.value.GetType() == LogVariant::Text ||
                                   query.upperValue.GetType() == LogVariant::Text)) {
            const std::wstring bounds =
                L"between " + query.value.ToString() + L" AND " + query.upperValue.ToString();
            if (statement.find(bounds) == std::wstring::npos) std::abort();  // not as they stand
            return 0;
        }
        if (name != L"Time") create += ", " + Ovra::tcs_to_utf8(name) + " TEXT";
    }
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    if (sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        const std::string sql = Ovra::tcs_to_utf8(statement);
        sqlite3_stmt* prepared = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &prepared, &tail) == SQLITE_OK &&
            (!prepared || !sqlite3_stmt_readonly(prepared) ||
             sql.find_first_not_of(" \t\n\r;", tail - sql.c_str()) != std::string::npos))
            std::abort();  // not a read-only statement, or a second one rides along
        sqlite3_finalize(prepared);
    }
    sqlite3_close(db);
    return 0;
}
