#include "tests/log/LogTestSupport.h"

#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace logtest;
using Query = LogService::SearchQuery;

const std::list<LogService::Field> kFields = {{L"Msg", T::Text, 2}, {L"Level", T::Int32}};

class LogServiceTest : public testing::Test {
protected:
    void Open(const std::list<LogService::Field>& fields = {}) {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        ASSERT_EQ(fields.empty() ? 0 : service.Create(fields), 0);
    }
    ScratchDir dir;
    TestableLogService service;
};

TEST_F(LogServiceTest, LifecycleResultsFollowTheTableState) {
    // Closed; then open: twice, a second Time column, existing table or indexes.
    const std::vector<int> closed = {service.Create({}), service.Create(kFields),
                                     service.ExistTable()};
    Open();
    const std::vector<int> open({service.Open(dir.WidePath("log.db")), service.CreateIndex(kFields),
                                 service.CreateIndex({}), service.Create({{L"Time", T::Int64}}),
                                 service.Create(kFields), service.ExistTable(),
                                 service.Create({{L"Other", T::Int8}}),
                                 service.CreateIndex(kFields), service.CreateIndex(kFields)});
    EXPECT_EQ(closed, (std::vector<int>{104, 1, 0}));
    EXPECT_EQ(open, (std::vector<int>{120, 122, 104, 1, 0, 1, 116, 0, 1}));
    service.Close();
    service.Close();
    EXPECT_EQ(service.DropTable(), 1);
    // The stored statement is the file format.
    EXPECT_EQ(
        RawQuery(dir.Utf8Path("log.db"), "select sql from sqlite_master where name = 'Ovra_Log'"),
        "CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT)");
    Open();
    EXPECT_EQ(service.DropTable(), 0);
    EXPECT_EQ(service.ExistTable(), 0);
}

// Every type is stored by its text form and comes back with its kind: the declared one while the
// creating service is open, the signed twin after a reopen. NULL columns have no entry.
TEST_F(LogServiceTest, ValuesComeBackTypedByTheirColumns) {
    using U8 = unsigned char;
    using U16 = unsigned short;
    const std::list<LogService::Field> fields = {
        {L"I8", T::Int8}, {L"U8", T::UInt8}, {L"U16", T::UInt16}, {L"U32", T::UInt32},
        {L"F", T::Float}, {L"D", T::Double}, {L"S", T::Text}};
    const std::list<LogService::FieldData> values = {
        {L"I8", T(300)},          {L"U8", T(U8(200))}, {L"U16", T(U16(65535))},
        {L"U32", T(4000000000u)}, {L"F", T(1.5f)},     {L"D", T(-0.25)}};
    Open(fields);
    ASSERT_EQ(service.Insert(7, values), 0);
    ASSERT_EQ(service.Insert(8, {{L"S", T(L"\u00fc\u20ac \U0001D11E")}}), 0);
    const std::wstring first = L"D:9=   -0.250000000000000000 F:8=   1.50000000 I8:1=44 Time:7=7 ";
    for (const wchar_t* unsignedColumns :
         {L"U16:4=65535 U32:6=-294967296 U8:2=200", L"U16:3=-1 U32:5=-294967296 U8:1=-56"}) {
        Rows rows;
        ASSERT_EQ(service.Search(L"order by Time", rows), 0);
        EXPECT_EQ(Describe(rows),
                  (std::vector<std::wstring>{first + unsignedColumns,
                                             L"S:10=\u00fc\u20ac \U0001D11E Time:7=8"}));
        service.Close();
        Open();
    }
}

TEST_F(LogServiceTest, AnyTextIsStoredAndFoundUnchanged) {
    Open(kFields);
    const std::wstring text = L"it's 100% \"done\" -- \u00fc'); drop table Ovra_Log; --";
    Rows rows;
    ASSERT_EQ(service.Insert(10, {{L"Msg", LogVariant(text)}, {L"Level", T(1)}}), 0);
    ASSERT_EQ(service.Insert(11, {{L"Msg", LogVariant(L"other")}}), 0);
    const std::string path = dir.Utf8Path("log.db");
    EXPECT_EQ(RawQuery(path, "select Msg from Ovra_Log where Time = 10"), tcs_to_utf8(text));
    // Text from another writer is read as far as its first zero byte, broken UTF-8 replaced.
    RawQuery(path, "insert into Ovra_Log(Time, Msg) values(12, cast(x'4180c3a90042' as text))");
    ASSERT_EQ(service.Search(L"where Time = 12", rows), 0);
    EXPECT_EQ(Describe(rows), std::vector<std::wstring>{L"Msg:10=A\uFFFD\u00e9 Time:7=12"});
    for (const auto& query : {Query{0, 0, LogVariant(text), {}},
                              Query{0, 1, LogVariant(L"100% \"done\" -- \u00fc'"), {}}}) {
        ASSERT_EQ(service.Search({{L"Msg", query}}, rows), 0);
        EXPECT_EQ(Describe(rows),
                  std::vector<std::wstring>{L"Level:5=1 Msg:10=" + text + L" Time:7=10"});
    }
    // Names that are not plain identifiers are refused before anything runs.
    const std::wstring hostile = L"Msg; drop table Ovra_Log";
    EXPECT_EQ(service.Insert(12, {{hostile, T(L"x")}}) + service.Search({{hostile, Query()}}, rows),
              2);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(Times(service), (std::vector<long long>{10, 11, 12}));
}

TEST_F(LogServiceTest, SearchAndCountSelectByClauseAndConditions) {
    Open(kFields);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(service.Insert(100 + i,
                                 {{L"Msg", T(i % 2 ? L"odd disk" : L"b")}, {L"Level", T(i % 3)}}),
                  0);
    // The count plus a thousand times the result.
    const auto count = [&](const wchar_t* clause) {
        unsigned long long n = 99;
        return service.GetRecordCount(clause, n) * 1000 + n;
    };
    EXPECT_EQ(
        (std::vector<unsigned long long>{count(L"where Level = 0"), count(L"where 1; select 5"),
                                         count(L"where"), count(L"where 1; select 1, 2")}),
        (std::vector<unsigned long long>{4, 10, 1000, 1000}));

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

    // An empty map leaves the rows alone; any failure clears them, as a statement of another
    // width in the clause does.
    EXPECT_EQ(service.Search(std::map<std::wstring, Query>(), rows), 104);
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(service.Search(L"where Time = 100; select 1", rows), 1);
    EXPECT_TRUE(rows.empty());
}

TEST_F(LogServiceTest, BatchIsAllOrNothing) {
    Open(kFields);
    const LogService::Record good = {1, {{L"Msg", T(L"it's ok")}}};
    EXPECT_EQ(service.Insert(std::list<LogService::Record>{}), 104);
    // Refused before anything runs.
    EXPECT_EQ(service.Insert({good, {3, {}}, good}), 104);
    EXPECT_EQ(service.Insert({good, {3, {{L"Msg x", T(L"a")}}}}), 1);
    // The second record breaks "not null": nothing of the batch stays, and no transaction.
    EXPECT_EQ(service.Insert({good, {2, {{L"Level", T(3)}}}, good}), 1);
    EXPECT_FALSE(LogServiceTestAccess::Db(service).InTransaction());
    EXPECT_EQ(service.Insert({good, {5, {{L"Msg", T(L"b")}}}}), 0);
    EXPECT_EQ(Times(service), (std::vector<long long>{1, 5}));
}

TEST_F(LogServiceTest, StreamingSearchStopsOnRequestAndRefusesCallsFromInside) {
    Open(kFields);
    for (int i = 0; i < 6; ++i) {
        std::list<LogService::FieldData> data = {{L"Msg", T(L"r\u00e9" + std::to_wstring(i))}};
        if (i % 2) data.push_back({L"Level", T(i)});
        ASSERT_EQ(service.Insert(100 - i, data), 0);
    }
    // The lock is held across the visitor calls and the Cs lets its holder in again: calls back
    // into the service must fail cleanly instead of running statements under the search.
    Collector first;
    std::vector<int> results;
    first.onRecord = [&] {
        Rows rows;
        unsigned long long count = 0;
        Collector nested;
        results.insert(
            results.end(),
            {service.Insert(3, {{L"Msg", T(L"c")}}), service.Insert({{3, {{L"Msg", T(L"c")}}}}),
             service.Search(L"", rows), service.Search(L"", nested),
             service.GetRecordCount(L"", count), service.Create({{L"X", T::Int32}}),
             service.ReclaimSpace(), service.EnableWriteAheadLog(1)});
        service.Close();
        results.push_back(service.IsOpened());
        return first.rows.size() == 2;
    };
    EXPECT_EQ(service.Search(L"order by Time", first), 0);
    EXPECT_EQ(results, std::vector<int>(18, 1));
    EXPECT_EQ(Describe(first.rows),
              (std::vector<std::wstring>{L"Level:5=5 Msg:10=r\u00e95 Time:7=95",
                                         L"Msg:10=r\u00e94 Time:7=96"}));
    EXPECT_EQ(Times(service).size(), 6u);
    EXPECT_EQ(service.Search(L"where Nope = 1", first), 1);
}

}  // namespace
}  // namespace Ovra
