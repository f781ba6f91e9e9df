#include "tests/log/LogTestSupport.h"

#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

#include <utility>

namespace Ovra {
namespace {

using namespace logtest;
using Query = LogService::SearchQuery;

// Opens the protected operations to the tests.
class TestableLogService : public LogService {
public:
    using LogService::DropTable;
    using LogService::ExistTable;
    using LogService::GetTableCustumFieldsType;
};

const std::list<LogService::Field> kFields = {{L"Msg", T::Text, 2}, {L"Level", T::Int32}};

class LogServiceTest : public testing::Test {
protected:
    void Open(const char* name = "log.db") { ASSERT_EQ(service.Open(dir.WidePath(name)), 0); }
    ScratchDir dir;
    TestableLogService service;
};

TEST_F(LogServiceTest, LifecycleResultsFollowTheTableState) {
    EXPECT_EQ(service.Create({}), 104);
    EXPECT_EQ(service.Create(kFields), 1);  // not open
    EXPECT_EQ(service.ExistTable(), 0);
    Open();
    EXPECT_EQ(service.Open(dir.WidePath("log.db")), 120);
    EXPECT_EQ(service.CreateIndex(kFields), 122);
    EXPECT_EQ(service.CreateIndex({}), 104);
    EXPECT_EQ(service.Create({{L"Time", T::Int64}}), 1);  // a second Time column
    EXPECT_TRUE(LogServiceTestAccess::Types(service).empty());
    ASSERT_EQ(service.Create(kFields), 0);
    EXPECT_EQ(service.ExistTable(), 1);
    EXPECT_EQ(service.Create({{L"Other", T::Int8}}), 116);
    EXPECT_EQ(service.CreateIndex(kFields), 0);
    EXPECT_EQ(service.CreateIndex(kFields), 1);  // every index exists already
    service.Close();
    service.Close();
    EXPECT_EQ(service.IsOpened(), 0);
    // A private temporary database keeps its rollback journal.
    TestableLogService temporary;
    ASSERT_EQ(temporary.Open(L""), 0);
    EXPECT_EQ(temporary.EnableWriteAheadLog(1), 1);
    EXPECT_EQ(service.DropTable(), 1);
    // The stored statement is the file format.
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db"))
                  .Scalar("select group_concat(sql, '; ') from (select sql from sqlite_master "
                          "order by name)"),
              "CREATE INDEX Level_index ON Ovra_Log(Level); CREATE INDEX Msg_index ON "
              "Ovra_Log(Msg); CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT); "
              "CREATE INDEX Time_index ON Ovra_Log(Time)");
    Open();
    EXPECT_EQ(service.DropTable(), 0);
    EXPECT_EQ(service.ExistTable(), 0);
}

// Every type is stored by its text form and comes back with its kind: the declared one while the
// creating service is open, the signed twin after a reopen.
TEST_F(LogServiceTest, ValuesComeBackTypedByTheirColumns) {
    struct Case {
        const wchar_t* column;
        LogVariant::Type declared;
        LogVariant stored;
        const wchar_t* read;
        LogVariant::Type reopened;
        const wchar_t* reread = nullptr;  // when the signed twin reads it otherwise
    };
    const Case cases[] = {
        {L"I8", T::Int8, LogVariant(300), L"44", T::Int8},  // the low 8 bits
        {L"U8", T::UInt8, LogVariant(static_cast<unsigned char>(200)), L"200", T::Int8, L"-56"},
        {L"I16", T::Int16, LogVariant(static_cast<short>(-2)), L"-2", T::Int16},
        {L"U16", T::UInt16, LogVariant(static_cast<unsigned short>(65535)), L"65535", T::Int16,
         L"-1"},
        {L"U32", T::UInt32, LogVariant(4000000000u), L"-294967296", T::Int32},
        {L"I64", T::Int64, LogVariant(-5000000000LL), L"-5000000000", T::Int64},
        {L"F", T::Float, LogVariant(1.5f), L"   1.50000000", T::Float},
        {L"D", T::Double, LogVariant(-0.25), L"   -0.250000000000000000", T::Double},
        {L"S", T::Text, LogVariant(L"\u00fc\u20ac \U0001D11E"), L"\u00fc\u20ac \U0001D11E",
         T::Text},
    };
    std::list<LogService::Field> fields;
    std::list<LogService::FieldData> data;
    for (const Case& c : cases) {
        fields.push_back({c.column, c.declared});
        data.push_back({c.column, c.stored});
    }
    Open();
    ASSERT_EQ(service.Create(fields), 0);
    ASSERT_EQ(service.Insert(7, data), 0);
    ASSERT_EQ(service.Insert(8, {{L"S", LogVariant(L"only")}}), 0);
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db")).Scalar("select typeof(F) || F from Ovra_Log"),
              "real1.5");
    for (const bool reopened : {false, true}) {
        if (reopened) service.Close(), Open();
        Rows rows;
        ASSERT_EQ(service.Search(L"order by Time", rows), 0);
        ASSERT_EQ(rows.size(), 2u);
        const auto values = ByName(rows.front());
        for (const Case& c : cases) {
            EXPECT_EQ(values.at(c.column).GetType(), reopened ? c.reopened : c.declared);
            EXPECT_EQ(values.at(c.column).ToString(), reopened && c.reread ? c.reread : c.read);
        }
        EXPECT_EQ(static_cast<unsigned int>(values.at(L"U32")), 4000000000u);
        // NULL columns have no entry; the others stand in column-name order.
        EXPECT_EQ(rows.back().front().name + rows.back().back().name, L"STime");
        EXPECT_EQ(rows.back().size(), 2u);
    }
}

TEST_F(LogServiceTest, OddStoredStatementsAreReadWithoutHarm) {
    const std::pair<const char*, const wchar_t*> files[] = {
        // "(" is no column of the result: reading fails cleanly.
        {"CREATE TABLE Ovra_Log(Time INT64 /* ) , ( */, Msg TEXT)", nullptr},
        // No column is read back: every record is an empty list.
        {"CREATE TABLE Ovra_Log(  Time   INT64, C BLOB)", L""},
        // An unknown type word gives an empty value.
        {"CREATE TABLE Ovra_Log(Time INT64, C BLOB)", L"C0 Time7 "},
    };
    for (const auto& file : files) {
        service.Close();
        ASSERT_EQ(RawDb(dir.Utf8Path("log.db"))
                      .Exec("DROP TABLE IF EXISTS Ovra_Log;" + std::string(file.first) +
                            "; insert into Ovra_Log values(5, 'x');"),
                  SQLITE_OK);
        Open();
        Rows rows;
        ASSERT_EQ(service.Search(L"", rows), file.second ? 0 : 1) << file.first;
        std::wstring described;
        for (const auto& field : rows.empty() ? std::list<LogService::FieldData>() : rows.front()) {
            described += field.name + std::to_wstring(field.value.GetType()) + L" ";
        }
        EXPECT_EQ(described, file.second ? file.second : L"") << file.first;
    }
    // A fresh file has no table: the types in hand stay.
    Types types{{L"keep", T::Text}};
    service.Close();
    Open("other.db");
    service.GetTableCustumFieldsType(types);
    EXPECT_EQ(types, (Types{{L"keep", T::Text}}));
    EXPECT_EQ(LogServiceTestAccess::Types(service).size(), 2u);
}

TEST_F(LogServiceTest, AnyTextIsStoredAndFoundUnchanged) {
    Open();
    ASSERT_EQ(service.Create(kFields), 0);
    const std::wstring text = L"it's 100% \"done\" -- \u00fc'); drop table Ovra_Log; --";
    Rows rows;
    ASSERT_EQ(service.Insert(10, {{L"Msg", LogVariant(text)}, {L"Level", T(1)}}), 0);
    ASSERT_EQ(service.Insert(11, {{L"Msg", LogVariant(L"other")}}), 0);
    RawDb raw(dir.Utf8Path("log.db"));
    EXPECT_EQ(raw.Scalar("select Msg from Ovra_Log where Time = 10"), tcs_to_utf8(text));
    // Text from another writer is read as far as its first zero byte, broken UTF-8 replaced.
    raw.Exec("insert into Ovra_Log(Time, Msg) values(12, cast(x'4180c3a90042' as text))");
    ASSERT_EQ(service.Search(L"where Time = 12", rows), 0);
    EXPECT_EQ(static_cast<std::wstring>(ByName(rows.front()).at(L"Msg")), L"A\uFFFD\u00e9");
    for (const auto& query : {Query{0, 0, LogVariant(text), {}},
                              Query{0, 1, LogVariant(L"100% \"done\" -- \u00fc'"), {}}}) {
        ASSERT_EQ(service.Search({{L"Msg", query}}, rows), 0);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(static_cast<std::wstring>(ByName(rows.front()).at(L"Msg")), text);
    }
    // Names that are not plain identifiers are refused before anything runs.
    const std::wstring hostile = L"Msg; drop table Ovra_Log";
    EXPECT_EQ(service.Insert(12, {{hostile, LogVariant(L"x")}}), 1);
    EXPECT_EQ(service.Search({{hostile, Query()}}, rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(service.CreateIndex({{hostile, T::Text}}), 1);
    EXPECT_EQ(service.Create({{L"Ok", T::Int32}, {hostile, T::Text}}), 1);
    EXPECT_EQ(Times(service), (std::vector<long long>{10, 11, 12}));
}

TEST_F(LogServiceTest, SearchAndCountSelectByClauseAndConditions) {
    Open();
    ASSERT_EQ(service.Create(kFields), 0);
    unsigned long long count = 99;
    EXPECT_EQ(service.GetRecordCount(L"", count), 0);
    EXPECT_EQ(count, 0u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(service.Insert(100 + i, {{L"Msg", LogVariant(i % 2 ? L"odd disk" : L"b")},
                                           {L"Level", LogVariant(i % 3)}}),
                  0);
    }
    const std::pair<const wchar_t*, unsigned long long> counts[] = {
        {L"where Level = 0", 4}, {L"where Level = 7", 0}, {L"where 1; select 5", 10}};
    for (const auto& c : counts) {
        EXPECT_EQ(service.GetRecordCount(c.first, count), 0);
        EXPECT_EQ(count, c.second) << c.first;
    }
    for (const wchar_t* failing : {L"where", L"where 1; select 1, 2"}) {
        EXPECT_EQ(service.GetRecordCount(failing, count), 1);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(Times(service, L"where Level = 1 and Time > 101"),
              (std::vector<long long>{104, 107}));

    // Level 1 AND Msg like disk OR Time between 100 and 101 (text bounds, as they stand).
    const std::map<std::wstring, Query> conditions = {
        {L"Level", {0, 0, LogVariant(1), {}}},
        {L"Msg", {1, 1, LogVariant(L"disk"), {}}},
        {L"Time", {0, 2, LogVariant(L"100"), LogVariant(L"abs(-101)")}}};
    std::wstring statement;
    ASSERT_EQ(LogService::GetSearchQuery(conditions, statement), 1);
    EXPECT_EQ(statement,
              L"select * from Ovra_Log where Level = '1' AND Msg LIKE '%disk%' OR "
              L"Time between 100 AND abs(-101)");
    Rows rows;
    ASSERT_EQ(service.Search(conditions, rows), 0);
    EXPECT_EQ(rows.size(), 3u);  // 100, 101 and 107: AND binds tighter
    // One condition has no joiner; an unknown comparison leaves the name and its blank.
    EXPECT_EQ(LogService::GetSearchQuery({{L"A", {1, 3, LogVariant(1), {}}}}, statement), 1);
    EXPECT_EQ(statement, L"select * from Ovra_Log where A ");

    // Later statements of a clause add their rows; one of another width fails the search.
    ASSERT_EQ(service.Search(L"where Time = 100; select * from Ovra_Log where Time > 108", rows),
              0);
    EXPECT_EQ(rows.size(), 2u);
    // An empty map leaves the rows alone; any failure clears them.
    EXPECT_EQ(service.Search(std::map<std::wstring, Query>(), rows), 104);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(service.Search(L"where Time = 100; select 1", rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(Times(service).size(), 10u);
}

}  // namespace
}  // namespace Ovra
