// The SQLite access layer, the parsers of stored text and the text forms of values.
#include "tests/log/LogTestSupport.h"

#include "src/log/LogRows.h"
#include "src/log/LogStatements.h"

#include <gtest/gtest.h>

#include <locale>
#include <thread>
#include <utility>

namespace Ovra {
namespace {

using namespace logtest;

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
    db.Close();
    EXPECT_EQ(Raised([&] { db.Rows("select 1"); }), 1000);
}

TEST(LogStatements, ColumnTypesAndNamesAreReadFromTheStoredText) {
    const std::pair<const wchar_t*, std::map<std::wstring, LogVariant::Type>> cases[] = {
        // Unsigned declarations come back signed, lower-case words count, unknown ones are None.
        {L"create table x(A SMALLINT unique, B tinyint, C BLOB)",
         {{L"A", T::Int16}, {L"B", T::Int8}, {L"C", T::None}}},
        {L"create table x(  A   INT, B INT)", {}},  // a doubled blank ends the reading
        {L"create table x(A INT, B DOUBLE", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(logsql::ParseColumnTypes(c.first), c.second) << c.first;
    for (const wchar_t* name : {L"_x09", L"", L"1a", L"a b", L"a'", L"\u00e9", L"a-"})
        EXPECT_EQ(logsql::IsPlainIdentifier(name), name == std::wstring(L"_x09")) << name;
}

// A host locale with a decimal comma and digit grouping, whatever locales the machine has.
struct CommaNumbers : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(LogVariant, FloatingTextIgnoresTheHostLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    std::wstring single, wide;
    // A fresh thread: whatever formats its text is made while the host's locale is in force.
    std::thread([&] {
        single = LogVariant(1.5f).ToString();
        wide = LogVariant(1234567.5).ToString();
    }).join();
    std::locale::global(previous);
    EXPECT_EQ(single + wide, L"   1.500000001234567.500000000000000000");
}

}  // namespace
}  // namespace Ovra
