// The SQLite access layer and the parsers of stored text.
#include "tests/log/LogTestSupport.h"

#include "src/log/LogRows.h"
#include "src/log/LogStatements.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <utility>

namespace Ovra {
namespace {

using logtest::ScratchDir;
using logtest::T;

// The code of the access-layer error that `body` raised; -1 when it raised none.
template <typename Body>
int Raised(Body body) {
    try {
        body();
    } catch (const CppSQLite3Exception& error) {
        return error.ErrorCode();
    }
    return -1;
}

// The rows of every statement, in turn, to the end and no further; a failure ends them.
TEST(CppSQLite3Rows, RunEveryStatementToItsEnd) {
    ScratchDir dir;
    CppSQLite3DB db;
    db.Open(dir.Utf8Path("log.db").c_str());
    db.Execute("create table t(a INT, b TEXT); insert into t values(1, 'x'), (2, NULL);");
    CppSQLite3Rows rows = db.Rows(
        "select a, b from t order by a; insert into t values(3, 'y');"
        " select 9, b from t where a = 3; -- done");
    std::string seen;
    while (rows.Next()) {
        const char* b = rows.Text(rows.ColumnIndex("b"));
        seen += std::string(rows.Text(0)) + (b ? b : "-") + std::to_string(rows.Bytes(0));
    }
    EXPECT_EQ(seen, "1x12-19y1");
    EXPECT_FALSE(rows.Next());
    EXPECT_EQ(Raised([&] { rows.ColumnIndex("b"); }), 1000);
    for (const char* sql :
         {"select a from t; select 1, 2; delete from t", "select a from t; selec; delete from t"}) {
        CppSQLite3Rows mixed = db.Rows(sql);
        EXPECT_TRUE(mixed.Next() && mixed.Next() && mixed.Next());
        EXPECT_EQ(Raised([&] { mixed.Next(); }), 1) << sql;
        EXPECT_FALSE(mixed.Next());
    }
    EXPECT_EQ(db.QueryInt("select count(*) from t"), 3);
    EXPECT_EQ(Raised([&] { db.QueryInt("select a from t where a > 5"); }), 1000);  // no row
    EXPECT_TRUE(db.Query("select a from t where a > 5").Eof());
    db.Close();
    EXPECT_EQ(Raised([&] { db.Rows("select 1"); }), 1000);
}

TEST(LogStatements, ColumnTypesAreReadBackFromTheStoredText) {
    using Map = logtest::Types;
    const std::pair<const wchar_t*, Map> cases[] = {
        {L"CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT)",
         {{L"Time", T::Int64}, {L"Msg", T::Text}, {L"Level", T::Int32}}},
        // Unsigned declarations come back signed, lower-case words count, unknown ones are None.
        {L"create table x(A SMALLINT unique, B tinyint, C BLOB)",
         {{L"A", T::Int16}, {L"B", T::Int8}, {L"C", T::None}}},
        {L"create table x(Time INT64, Raw , After INT)", {{L"Time", T::Int64}}},  // no type: stop
        // Only blanks are trimmed: a doubled blank ends the reading, a tab stays in the name.
        {L"create table x(  A   INT, B INT)", {}},
        {L"create table x(A INT,\tB INT)", {{L"A", T::Int32}, {L"\tB", T::Int32}}},
        {L"create table x(A INT, B DOUBLE", {}},
        {L")(", {}},
        {L"x((A INT), (B TEXT))", {{L"(A", T::None}, {L"(B", T::None}}},
        {L"t(,A INT)", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(logsql::ParseColumnTypes(c.first), c.second) << c.first;
}

TEST(LogStatements, OnlyPlainIdentifiersAreNames) {
    for (const wchar_t* good : {L"Time", L"_x9", L"Z"})
        EXPECT_TRUE(logsql::IsPlainIdentifier(good));
    for (const wchar_t* bad : {L"", L"1a", L"a b", L"a'", L"\u00e9", L"[a]", L"a-"}) {
        EXPECT_FALSE(logsql::IsPlainIdentifier(bad)) << bad;
    }
}

TEST(LogRows, NumbersAreReadAsTheCLibraryReadsThem) {
    const std::pair<const char*, long long> integers[] = {{"  -42xyz", -42},
                                                          {"+7", 7},
                                                          {"abc", 0},
                                                          {"--1", 0},
                                                          {"2147483646", INT_MAX - 1},
                                                          {"2147483648", INT_MAX},
                                                          {"-99999999999999999999", INT_MIN}};
    for (const auto& c : integers) EXPECT_EQ(logrows::ParseInt(c.first), c.second) << c.first;
    EXPECT_EQ(logrows::ParseInt64("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(logrows::ParseInt64("99999999999999999999"), LLONG_MAX);
    const std::pair<const char*, double> reals[] = {
        {"\t1.5e2 rest", 150.0}, {"-0.25", -0.25}, {"+.5", 0.5}, {"x1", 0.0}, {"-+1", 0.0}};
    for (const auto& c : reals) EXPECT_EQ(logrows::ParseDouble(c.first), c.second) << c.first;
    EXPECT_TRUE(std::isinf(logrows::ParseDouble("1e999")));
}

}  // namespace
}  // namespace Ovra
