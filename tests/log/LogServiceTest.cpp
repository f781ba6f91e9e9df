#include "LogTestSupport.h"

#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace Ovra {
namespace {

using logtest::ByName;
using logtest::Data;
using logtest::MakeField;
using logtest::RawDb;
using logtest::ScratchDir;
using Types = std::map<std::wstring, LogVariant::Type>;

// Opens the protected operations to the tests.
class TestableLogService : public LogService {
public:
    using LogService::DropTable;
    using LogService::ExistTable;
    using LogService::GetTableCustumFieldsType;
};

const std::list<LogService::Field> kFields = {MakeField(L"Msg", LogVariant::Text, 2),
                                              MakeField(L"Level", LogVariant::Int32)};

class LogServiceTest : public testing::Test {
protected:
    std::wstring Path() const { return dir.WidePath("log.db"); }
    std::string Utf8Path() const { return dir.Utf8Path("log.db"); }
    void OpenWithTable() {
        ASSERT_EQ(service.Open(Path()), 0);
        ASSERT_EQ(service.Create(kFields), 0);
    }
    logtest::Rows All() {
        logtest::Rows rows;
        EXPECT_EQ(service.Search(L"ORDER BY Time", rows), 0);
        return rows;
    }

    ScratchDir dir;
    TestableLogService service;
};

TEST_F(LogServiceTest, LifecycleResultsFollowTheTableState) {
    EXPECT_EQ(service.Create({}), 104);
    EXPECT_EQ(service.Create(kFields), 1);  // not open
    EXPECT_EQ(service.CreateIndex(kFields), 1);
    EXPECT_EQ(service.ExistTable(), 0);

    ASSERT_EQ(service.Open(Path()), 0);
    EXPECT_EQ(service.IsOpened(), 1);
    EXPECT_EQ(service.Open(Path()), 120);
    EXPECT_EQ(service.ExistTable(), 0);
    EXPECT_EQ(service.CreateIndex(kFields), 122);
    EXPECT_EQ(service.CreateIndex({}), 104);
    EXPECT_EQ(service.Create({MakeField(L"Time", LogVariant::Int64)}), 1);  // duplicate column
    EXPECT_TRUE(LogServiceTestAccess::Types(service).empty());

    ASSERT_EQ(service.Create(kFields), 0);
    EXPECT_EQ(LogServiceTestAccess::Types(service), (Types{{L"Time", LogVariant::Int64},
                                                           {L"Msg", LogVariant::Text},
                                                           {L"Level", LogVariant::Int32}}));
    EXPECT_EQ(service.ExistTable(), 1);
    EXPECT_EQ(service.Create({MakeField(L"Other", LogVariant::Int8)}), 116);
    EXPECT_EQ(service.CreateIndex(kFields), 0);
    EXPECT_EQ(service.CreateIndex(kFields), 1);  // every index exists already

    service.Close();
    service.Close();
    EXPECT_EQ(service.IsOpened(), 0);
    EXPECT_EQ(service.DropTable(), 1);
    ASSERT_EQ(service.Open(Path()), 0);
    EXPECT_EQ(service.DropTable(), 0);
    EXPECT_EQ(service.ExistTable(), 0);
}

TEST_F(LogServiceTest, FileHoldsExactlyTheDeclaredSchema) {
    OpenWithTable();
    ASSERT_EQ(service.CreateIndex(kFields), 0);
    service.Close();

    // SQLite keeps the statement as written, its leading keywords in capitals.
    RawDb raw(Utf8Path());
    EXPECT_EQ(raw.Scalar("select sql from sqlite_master where type='table' and name='Ovra_Log'"),
              "CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT)");
    const auto indexes = raw.Rows(
        "select name, sql from sqlite_master where type='index' "
        "order by name");
    ASSERT_EQ(indexes.size(), 3u);
    EXPECT_EQ(indexes[0][1], "CREATE INDEX Level_index ON Ovra_Log(Level)");
    EXPECT_EQ(indexes[1][1], "CREATE INDEX Msg_index ON Ovra_Log(Msg)");
    EXPECT_EQ(indexes[2][1], "CREATE INDEX Time_index ON Ovra_Log(Time)");

#if !defined(_WIN32)
    // An independent reader of the file format.
    const std::string command =
        "sqlite3 '" + Utf8Path() + "' \"select sql from sqlite_master where name='Ovra_Log'\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(output, "CREATE TABLE Ovra_Log(Time INT64, Msg TEXT not null, Level INT)\n");
#endif
}

TEST_F(LogServiceTest, ReopeningReadsTheColumnTypesBack) {
    ASSERT_EQ(service.Open(Path()), 0);
    ASSERT_EQ(
        service.Create({MakeField(L"A", LogVariant::UInt8), MakeField(L"B", LogVariant::UInt16),
                        MakeField(L"C", LogVariant::UInt32), MakeField(L"D", LogVariant::Float),
                        MakeField(L"E", LogVariant::Double), MakeField(L"Raw", LogVariant::None),
                        MakeField(L"F", LogVariant::Text)}),
        0);
    EXPECT_EQ(LogServiceTestAccess::Types(service).at(L"B"), LogVariant::UInt16);
    service.Close();

    // Types survive a Close; a new Open replaces them with what the file declares.
    ASSERT_EQ(service.Open(Path()), 0);
    EXPECT_EQ(LogServiceTestAccess::Types(service), (Types{{L"Time", LogVariant::Int64},
                                                           {L"A", LogVariant::Int8},
                                                           {L"B", LogVariant::Int16},
                                                           {L"C", LogVariant::Int32},
                                                           {L"D", LogVariant::Float},
                                                           {L"E", LogVariant::Double}}));
    // A fresh file has no table: the types in hand stay.
    service.Close();
    ASSERT_EQ(service.Open(dir.WidePath("other.db")), 0);
    EXPECT_EQ(LogServiceTestAccess::Types(service).size(), 6u);
    Types types{{L"keep", LogVariant::Text}};
    service.GetTableCustumFieldsType(types);
    EXPECT_EQ(types, (Types{{L"keep", LogVariant::Text}}));
}

TEST_F(LogServiceTest, OddStoredStatementsAreReadWithoutHarm) {
    {
        RawDb raw(Utf8Path());
        ASSERT_EQ(raw.Exec("CREATE TABLE Ovra_Log(Time INT64 /* ) , ( */, Msg TEXT, C BLOB);"
                           "insert into Ovra_Log values(5, 'm', x'00');"),
                  SQLITE_OK);
    }
    ASSERT_EQ(service.Open(Path()), 0);
    EXPECT_EQ(LogServiceTestAccess::Types(service), (Types{{L"Time", LogVariant::Int64},
                                                           {L"(", LogVariant::None},
                                                           {L"Msg", LogVariant::Text},
                                                           {L"C", LogVariant::None}}));
    // "(" is no column of the result, so reading fails cleanly.
    logtest::Rows rows;
    EXPECT_EQ(service.Search(L"", rows), 1);
    service.Close();

    {
        RawDb raw(Utf8Path());
        ASSERT_EQ(raw.Exec("DROP TABLE Ovra_Log; CREATE TABLE Ovra_Log(  Time   INT64, C BLOB);"
                           "insert into Ovra_Log values(5, x'00');"),
                  SQLITE_OK);
    }
    ASSERT_EQ(service.Open(Path()), 0);
    EXPECT_TRUE(LogServiceTestAccess::Types(service).empty());
    EXPECT_EQ(service.Search(L"", rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows.front().empty());
    service.Close();

    {
        RawDb raw(Utf8Path());
        ASSERT_EQ(raw.Exec("DROP TABLE Ovra_Log; CREATE TABLE Ovra_Log(Time INT64, C BLOB);"
                           "insert into Ovra_Log values(5, 'abc');"),
                  SQLITE_OK);
    }
    ASSERT_EQ(service.Open(Path()), 0);
    ASSERT_EQ(service.Search(L"", rows), 0);
    const auto values = ByName(rows.front());
    EXPECT_EQ(values.at(L"C").GetType(), LogVariant::None);  // unknown type word: empty value
    EXPECT_EQ(static_cast<long long>(values.at(L"Time")), 5);
}

TEST_F(LogServiceTest, InsertedRecordsComeBackTyped) {
    EXPECT_EQ(service.Insert(1, {}), 104);
    EXPECT_EQ(service.Insert(1, {Data(L"Msg", LogVariant(L"x"))}), 1);  // not open
    ASSERT_EQ(service.Open(Path()), 0);
    ASSERT_EQ(service.Create(
                  {MakeField(L"Msg", LogVariant::Text, 2), MakeField(L"Level", LogVariant::Int32),
                   MakeField(L"Small", LogVariant::Int8), MakeField(L"F", LogVariant::Float),
                   MakeField(L"U", LogVariant::UInt32)}),
              0);
    ASSERT_EQ(service.Insert(1700000000000LL, {Data(L"Msg", LogVariant(L"disk full")),
                                               Data(L"Level", LogVariant(3))}),
              0);
    ASSERT_EQ(service.Insert(1700000000001LL,
                             {Data(L"Level", LogVariant(3)), Data(L"Msg", LogVariant(L"disk full")),
                              Data(L"Small", LogVariant(300)), Data(L"F", LogVariant(1.5f)),
                              Data(L"U", LogVariant(4000000000u))}),
              0);
    EXPECT_EQ(service.Insert(2, {Data(L"Level", LogVariant(1))}), 1);  // Msg is not null
    EXPECT_EQ(service.Insert(2, {Data(L"Msg", LogVariant())}), 1);     // None has no text
    EXPECT_EQ(service.Insert(2, {Data(L"Nope", LogVariant(1))}), 1);   // no such column

    RawDb raw(Utf8Path());
    EXPECT_EQ(raw.Rows("select Time, Msg, Level, typeof(F), F from Ovra_Log order by Time"),
              (std::vector<std::vector<std::string>>{
                  {"1700000000000", "disk full", "3", "null", "NULL"},
                  {"1700000000001", "disk full", "3", "real", "1.5"}}));

    const auto rows = All();
    ASSERT_EQ(rows.size(), 2u);
    // A NULL column has no entry; the others stand in column-name order.
    std::vector<std::wstring> names;
    for (const auto& field : rows.front()) names.push_back(field.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Level", L"Msg", L"Time"}));
    const auto second = ByName(rows.back());
    EXPECT_EQ(second.size(), 6u);
    EXPECT_EQ(second.at(L"Time").GetType(), LogVariant::Int64);
    EXPECT_EQ(static_cast<long long>(second.at(L"Time")), 1700000000001LL);
    EXPECT_EQ(static_cast<std::wstring>(second.at(L"Msg")), L"disk full");
    EXPECT_EQ(static_cast<int>(second.at(L"Level")), 3);
    EXPECT_EQ(second.at(L"Small").GetType(), LogVariant::Int8);
    EXPECT_EQ(static_cast<signed char>(second.at(L"Small")), 44);
    EXPECT_EQ(second.at(L"F").GetType(), LogVariant::Float);
    EXPECT_EQ(static_cast<float>(second.at(L"F")), 1.5f);
    EXPECT_EQ(second.at(L"U").GetType(), LogVariant::UInt32);
    EXPECT_EQ(static_cast<unsigned int>(second.at(L"U")), 4000000000u);
}

TEST_F(LogServiceTest, AnyTextIsStoredAndFoundUnchanged) {
    OpenWithTable();
    const std::wstring text =
        L"it's 100% \"done\" -- \u00fc\u20ac \U0001D11E'); drop table Ovra_Log; --";
    ASSERT_EQ(service.Insert(10, {Data(L"Msg", LogVariant(text)), Data(L"Level", LogVariant(1))}),
              0);
    ASSERT_EQ(
        service.Insert(11, {Data(L"Msg", LogVariant(L"other")), Data(L"Level", LogVariant(2))}), 0);

    RawDb raw(Utf8Path());
    EXPECT_EQ(raw.Scalar("select Msg from Ovra_Log where Time = 10"), tcs_to_utf8(text));

    std::map<std::wstring, LogService::SearchQuery> conditions;
    conditions[L"Msg"].value = LogVariant(text);
    logtest::Rows rows;
    ASSERT_EQ(service.Search(conditions, rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(static_cast<std::wstring>(ByName(rows.front()).at(L"Msg")), text);

    conditions[L"Msg"].compare = 1;
    conditions[L"Msg"].value = LogVariant(L"100% \"done\" -- \u00fc\u20ac \U0001D11E'");
    ASSERT_EQ(service.Search(conditions, rows), 0);
    EXPECT_EQ(rows.size(), 1u);

    // Names that are not plain identifiers are refused before anything runs.
    const std::wstring hostile = L"Msg; drop table Ovra_Log";
    EXPECT_EQ(service.Insert(12, {Data(hostile, LogVariant(L"x"))}), 1);
    std::map<std::wstring, LogService::SearchQuery> bad;
    bad[hostile].value = LogVariant(1);
    EXPECT_EQ(service.Search(bad, rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(service.CreateIndex({MakeField(hostile, LogVariant::Text)}), 1);
    EXPECT_EQ(service.ExistTable(), 1);
    unsigned long long count = 0;
    EXPECT_EQ(service.GetRecordCount(L"", count), 0);
    EXPECT_EQ(count, 2u);

    TestableLogService fresh;
    ASSERT_EQ(fresh.Open(dir.WidePath("fresh.db")), 0);
    EXPECT_EQ(
        fresh.Create({MakeField(L"Ok", LogVariant::Int32), MakeField(hostile, LogVariant::Text)}),
        1);
    EXPECT_EQ(fresh.ExistTable(), 0);
}

TEST_F(LogServiceTest, SearchAndCountSelectByClauseAndConditions) {
    OpenWithTable();
    unsigned long long count = 99;
    EXPECT_EQ(service.GetRecordCount(L"", count), 0);
    EXPECT_EQ(count, 0u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(service.Insert(100 + i, {Data(L"Msg", LogVariant(i % 2 ? L"odd disk" : L"even")),
                                           Data(L"Level", LogVariant(i % 3))}),
                  0);
    }
    EXPECT_EQ(service.GetRecordCount(L"where Level = 0", count), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(service.GetRecordCount(L"where Level = 7", count), 0);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(service.GetRecordCount(L"where", count), 1);
    EXPECT_EQ(count, 0u);

    logtest::Rows rows;
    ASSERT_EQ(service.Search(L"where Level = 1 ORDER BY Time DESC LIMIT 2", rows), 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(static_cast<long long>(ByName(rows.front()).at(L"Time")), 107);

    // Level 1 AND Msg like disk OR Time between 100 and 101: AND binds tighter.
    std::map<std::wstring, LogService::SearchQuery> conditions;
    conditions[L"Level"].value = LogVariant(1);
    conditions[L"Msg"].compare = 1;
    conditions[L"Msg"].relation = 1;
    conditions[L"Msg"].value = LogVariant(L"disk");
    conditions[L"Time"].compare = 2;
    conditions[L"Time"].value = LogVariant(100LL);
    conditions[L"Time"].upperValue = LogVariant(101LL);
    ASSERT_EQ(service.Search(conditions, rows), 0);
    std::vector<long long> times;
    for (const auto& row : rows) times.push_back(ByName(row).at(L"Time"));
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times, (std::vector<long long>{100, 101, 107}));

    // An empty map leaves the rows alone; a failing clause or an empty result clears them.
    EXPECT_EQ(service.Search(std::map<std::wstring, LogService::SearchQuery>(), rows), 104);
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(service.Search(L"where nonsense(", rows), 1);
    EXPECT_TRUE(rows.empty());
    ASSERT_EQ(service.Search(L"", rows), 0);
    EXPECT_EQ(rows.size(), 10u);
    EXPECT_EQ(service.Search(L"where Time < 0", rows), 0);
    EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace Ovra
