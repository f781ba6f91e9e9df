#include "LogTestSupport.h"

#include "log/LogRows.h"
#include "log/LogStatements.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace Ovra {
namespace {

using logtest::Data;
using logtest::MakeField;

LogService::SearchQuery Condition(int relation, int compare, const LogVariant& value,
                                  const LogVariant& upper = LogVariant()) {
    LogService::SearchQuery query;
    query.relation = relation;
    query.compare = compare;
    query.value = value;
    query.upperValue = upper;
    return query;
}

TEST(LogStatements, TableTextsAreTheFileFormat) {
    EXPECT_EQ(logsql::CreateTable({MakeField(L"Msg", LogVariant::Text, 2),
                                   MakeField(L"Level", LogVariant::Int32, 0)}),
              L"create table Ovra_Log(Time INT64, Msg TEXT not null, Level INT);");
    EXPECT_EQ(logsql::CreateTable({MakeField(L"Id", LogVariant::UInt16, 1),
                                   MakeField(L"Raw", LogVariant::None, 7),
                                   MakeField(L"F", LogVariant::Float)}),
              L"create table Ovra_Log(Time INT64, Id SMALLINT unique, Raw , F FLOAT);");
    EXPECT_EQ(logsql::CreateIndex(L"Level"), L"CREATE INDEX Level_index ON Ovra_Log(Level);");
    EXPECT_EQ(logsql::DropTable(), L"drop table Ovra_Log");
    EXPECT_EQ(logsql::TableExistsQuery(),
              "select count(*) from sqlite_master where type='table' and name='Ovra_Log'");
    EXPECT_EQ(logsql::StoredCreateQuery(),
              L"select sql from sqlite_master where type='table' and name='Ovra_Log'");
}

TEST(LogStatements, InsertSplicesTextFormsAndDoublesQuotes) {
    EXPECT_EQ(logsql::Insert(1700000000000LL, {Data(L"Msg", LogVariant(L"disk full")),
                                               Data(L"Level", LogVariant(3))}),
              L"insert into Ovra_Log(Time, Msg, Level) values(1700000000000, 'disk full', 3 );");
    // Unsigned 32-bit values are written signed; floats carry their leading blanks.
    EXPECT_EQ(
        logsql::Insert(-5, {Data(L"U", LogVariant(4294967295u)), Data(L"F", LogVariant(1.5f))}),
        L"insert into Ovra_Log(Time, U, F) values(-5, -1 ,    1.50000000 );");
    EXPECT_EQ(logsql::Insert(0, {Data(L"Msg", LogVariant(L"it's '' done'"))}),
              L"insert into Ovra_Log(Time, Msg) values(0, 'it''s '''' done''');");
}

TEST(LogStatements, SearchTextFollowsMapOrderAndQuotesSafely) {
    std::map<std::wstring, LogService::SearchQuery> conditions;
    conditions[L"Time"] = Condition(1, 2, LogVariant(100LL), LogVariant(200LL));
    conditions[L"Note"] = Condition(1, 1, LogVariant(L"disk"));
    conditions[L"Code"] = Condition(0, 0, LogVariant(3));
    std::wstring statement = L"untouched";
    ASSERT_EQ(LogService::GetSearchQuery(conditions, statement), 1);
    EXPECT_EQ(statement,
              L"select * from Ovra_Log where Code = '3' AND Note LIKE '%disk%' OR Time "
              L"between 100 AND 200");

    // One condition has no joiner; unknown comparisons leave the name and its blank.
    EXPECT_EQ(LogService::GetSearchQuery({{L"A", Condition(1, 3, LogVariant(1))}}, statement), 1);
    EXPECT_EQ(statement, L"select * from Ovra_Log where A ");

    // Text bounds are written as they stand, unquoted.
    LogService::GetSearchQuery({{L"B", Condition(0, 2, LogVariant(L"a"), LogVariant(L"z"))}},
                               statement);
    EXPECT_EQ(statement, L"select * from Ovra_Log where B between a AND z");
    LogService::GetSearchQuery({{L"M", Condition(0, 1, LogVariant(L"x' OR '1'='1"))}}, statement);
    EXPECT_EQ(statement, L"select * from Ovra_Log where M LIKE '%x'' OR ''1''=''1%'");

    // Empty maps and non-identifier keys build nothing.
    statement = L"untouched";
    EXPECT_EQ(LogService::GetSearchQuery({}, statement), 0);
    EXPECT_EQ(
        LogService::GetSearchQuery({{L"Msg; drop table Ovra_Log", Condition(0, 0, 1)}}, statement),
        0);
    EXPECT_EQ(statement, L"untouched");
}

TEST(LogStatements, ClauseCountAndDeleteTexts) {
    EXPECT_EQ(logsql::SelectAll(L""), L"SELECT * FROM Ovra_Log ");
    EXPECT_EQ(logsql::SelectAll(L"where Time > 5 LIMIT 2"),
              L"SELECT * FROM Ovra_Log where Time > 5 LIMIT 2");
    EXPECT_EQ(logsql::Count(L"where Level = 3"),
              L"SELECT COUNT(Time) FROM Ovra_Log where Level = 3");
    EXPECT_EQ(logsql::DeleteBefore(1700000000000LL),
              L"delete from Ovra_Log where Time < 1700000000000");
    EXPECT_EQ(logsql::DeleteBefore(-3), L"delete from Ovra_Log where Time < -3");
}

TEST(LogStatements, IdentifiersArePlainAsciiNames) {
    for (const wchar_t* good : {L"Time", L"_x", L"a1_B2", L"Z"}) {
        EXPECT_TRUE(logsql::IsPlainIdentifier(good)) << good;
    }
    for (const wchar_t* bad :
         {L"", L"1a", L"a b", L"a,b", L"a;b", L"a'", L"\u00e9t\u00e9", L"a-b", L"[a]", L"a\"b"}) {
        EXPECT_FALSE(logsql::IsPlainIdentifier(bad)) << bad;
    }
}

TEST(LogStatements, ColumnTypesAreReadBackFromTheStoredText) {
    using T = LogVariant::Type;
    using Map = std::map<std::wstring, T>;
    EXPECT_EQ(logsql::ParseColumnTypes(
                  L"CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT)"),
              (Map{{L"Time", LogVariant::Int64},
                   {L"Msg", LogVariant::Text},
                   {L"Level", LogVariant::Int32}}));
    // Unsigned declarations come back signed; lower-case words are recognised, unknown ones None.
    EXPECT_EQ(logsql::ParseColumnTypes(L"create table x(A SMALLINT unique, B tinyint, C BLOB)"),
              (Map{{L"A", LogVariant::Int16}, {L"B", LogVariant::Int8}, {L"C", LogVariant::None}}));
    // A column without a type word ends the reading.
    EXPECT_EQ(logsql::ParseColumnTypes(L"create table x(Time INT64, Raw , After INT)"),
              (Map{{L"Time", LogVariant::Int64}}));
    // Only blanks are trimmed: a doubled blank or a tab ends or spoils the reading.
    EXPECT_EQ(logsql::ParseColumnTypes(L"create table x(  A   INT, B INT)"), Map{});
    EXPECT_EQ(
        logsql::ParseColumnTypes(L"create table x(A INT,\tB INT, C INT)"),
        (Map{{L"A", LogVariant::Int32}, {L"\tB", LogVariant::Int32}, {L"C", LogVariant::Int32}}));
    // Hostile and truncated texts give what they give, and never more than the text holds.
    EXPECT_EQ(logsql::ParseColumnTypes(L"create table x(A INT, B DOUBLE"), Map{});
    EXPECT_EQ(logsql::ParseColumnTypes(L")("), Map{});
    EXPECT_EQ(logsql::ParseColumnTypes(L""), Map{});
    EXPECT_EQ(logsql::ParseColumnTypes(L"x((A INT), (B TEXT))"),
              (Map{{L"(A", LogVariant::None}, {L"(B", LogVariant::None}}));
    EXPECT_EQ(logsql::ParseColumnTypes(L"t(,A INT)"), Map{});
}

TEST(LogRows, NumbersAreReadAsTheCLibraryReadsThem) {
    EXPECT_EQ(logrows::ParseInt("  -42xyz"), -42);
    EXPECT_EQ(logrows::ParseInt("+7"), 7);
    EXPECT_EQ(logrows::ParseInt("abc"), 0);
    EXPECT_EQ(logrows::ParseInt("--1"), 0);
    EXPECT_EQ(logrows::ParseInt("2147483647"), INT_MAX);
    EXPECT_EQ(logrows::ParseInt("2147483648"), INT_MAX);
    EXPECT_EQ(logrows::ParseInt("-2147483648"), INT_MIN);
    EXPECT_EQ(logrows::ParseInt("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(logrows::ParseInt64("3000000000"), 3000000000LL);
    EXPECT_EQ(logrows::ParseInt64("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(logrows::ParseInt64("99999999999999999999"), LLONG_MAX);
    EXPECT_DOUBLE_EQ(logrows::ParseDouble("\t1.5e2 rest"), 150.0);
    EXPECT_DOUBLE_EQ(logrows::ParseDouble("-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(logrows::ParseDouble("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(logrows::ParseDouble("x1"), 0.0);
    EXPECT_DOUBLE_EQ(logrows::ParseDouble(""), 0.0);
    EXPECT_TRUE(std::isinf(logrows::ParseDouble("1e999")));
}

}  // namespace
}  // namespace Ovra
