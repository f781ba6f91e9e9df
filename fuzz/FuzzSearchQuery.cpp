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

namespace {

// Reads the fuzzer's bytes as a little script of conditions.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Done() const { return m_at >= m_size; }
    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::wstring Text() {
        const std::size_t length = Byte() % 24;
        std::string bytes;
        for (std::size_t i = 0; i < length && !Done(); ++i) bytes += static_cast<char>(Byte());
        return Ovra::utf8_to_tcs(bytes);
    }
    // Every text form there is: integers, fixed-point reals (infinite and NaN ones too), text.
    Ovra::LogVariant Value() {
        const int type = Byte() % 5;
        long long bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | Byte();
        double real;
        std::memcpy(&real, &bits, sizeof real);
        const Ovra::LogVariant values[] = {Ovra::LogVariant(), Ovra::LogVariant(bits),
                                           Ovra::LogVariant(static_cast<float>(real)),
                                           Ovra::LogVariant(real), Ovra::LogVariant()};
        return type == 4 ? Ovra::LogVariant(Text()) : values[type];
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    std::map<std::wstring, Ovra::LogService::SearchQuery> conditions;
    for (int i = 0; i < 4 && !in.Done(); ++i) {
        Ovra::LogService::SearchQuery query;
        const std::wstring name = in.Text();
        query.relation = in.Byte() % 2;
        query.compare = in.Byte() % 4;
        query.value = in.Value();
        query.upperValue = in.Value();
        conditions[name] = query;
    }
    std::wstring statement;
    if (Ovra::logsql::Search(conditions, statement) != Ovra::logsql::SearchBuild::kBuilt) return 0;
    for (const auto& condition : conditions) {
        const Ovra::LogService::SearchQuery& query = condition.second;
        if (query.compare == 2 && (query.value.GetType() == Ovra::LogVariant::Text ||
                                   query.upperValue.GetType() == Ovra::LogVariant::Text)) {
            const std::wstring bounds =
                L"between " + query.value.ToString() + L" AND " + query.upperValue.ToString();
            if (statement.find(bounds) == std::wstring::npos) std::abort();  // not as they stand
            return 0;
        }
    }

    // A table with exactly the condition columns, so that names resolve.
    std::string create = "create table Ovra_Log(Time INT64";
    for (const auto& condition : conditions) {
        if (!Ovra::logsql::IsPlainIdentifier(condition.first))
            std::abort();  // built from a bad name
        if (condition.first != L"Time")
            create += ", " + Ovra::tcs_to_utf8(condition.first) + " TEXT";
    }
    create += ")";
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        const std::string sql = Ovra::tcs_to_utf8(statement);
        sqlite3_stmt* prepared = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &prepared, &tail) == SQLITE_OK) {
            if (!prepared || !sqlite3_stmt_readonly(prepared)) std::abort();
            for (; *tail; ++tail) {
                if (*tail != ' ' && *tail != '\t' && *tail != '\n' && *tail != '\r' && *tail != ';')
                    std::abort();  // a second statement rides along
            }
        }
        sqlite3_finalize(prepared);
    }
    sqlite3_close(db);
    return 0;
}
