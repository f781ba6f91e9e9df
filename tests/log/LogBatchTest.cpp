// Batches and the streaming search.
#include "tests/log/LogTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace Ovra {
namespace {

using namespace logtest;

// Every value of every record, with its type, as comparable text.
std::vector<std::wstring> Describe(const Rows& rows) {
    std::vector<std::wstring> out;
    for (const auto& row : rows) {
        out.emplace_back();
        for (const auto& field : row) {
            out.back() +=
                field.name + std::to_wstring(field.value.GetType()) + field.value.ToString();
        }
    }
    return out;
}

class LogBatchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        ASSERT_EQ(service.Create({{L"Msg", T::Text, 2}, {L"Level", T::Int8}, {L"F", T::Float}}), 0);
    }
    ScratchDir dir;
    LogService service;
};

TEST_F(LogBatchTest, BatchIsAllOrNothing) {
    const LogService::Record good = {1, {{L"Msg", LogVariant(L"it's ok")}}};
    EXPECT_EQ(service.Insert(std::list<LogService::Record>{}), 104);
    // Refused before anything runs.
    EXPECT_EQ(service.Insert({good, {3, {}}, good}), 104);
    EXPECT_EQ(service.Insert({good, {3, {{L"Msg x", LogVariant(L"a")}}}}), 1);
    // The second record breaks "not null": nothing of the batch stays, and no transaction.
    EXPECT_EQ(service.Insert({good, {2, {{L"Level", T(3)}}}, good}), 1);
    EXPECT_FALSE(LogServiceTestAccess::Db(service).InTransaction());
    EXPECT_EQ(service.Insert({good, {5, {{L"Msg", T(L"b")}, {L"F", T(0.5f)}}}}), 0);
    // No lock is left over: another connection writes at once.
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db"))
                  .Exec("PRAGMA busy_timeout=0; insert into Ovra_Log(Time, Msg) values(9, 'r')"),
              SQLITE_OK);
    EXPECT_EQ(Times(service), (std::vector<long long>{1, 5, 9}));
    service.Close();
    EXPECT_EQ(service.Insert({good}), 1);  // not open
}

// Collects what a streaming search hands over; stops after a number of records, or calls back
// into the service from inside.
class Collector : public LogSearchVisitor {
public:
    int OnLogRecord(const std::list<LogService::FieldData>& record) override {
        rows.push_back(record);
        if (onRecord) onRecord();
        return stopAfter != 0 && rows.size() >= stopAfter;
    }
    Rows rows;
    std::size_t stopAfter = 0;
    std::function<void()> onRecord;
};

TEST_F(LogBatchTest, StreamingSearchHandsOverWhatSearchReturns) {
    std::list<LogService::Record> records;
    for (int i = 0; i < 50; ++i) {
        records.push_back({1000 - i, {{L"Msg", LogVariant(L"r\u00e9" + std::to_wstring(i))}}});
        if (i % 2) records.back().data.push_back({L"Level", T(300 + i)});
        if (i % 5) records.back().data.push_back({L"F", T(i / 4.0f)});
    }
    ASSERT_EQ(service.Insert(records), 0);
    for (const wchar_t* clause :
         {L"", L"where Level is null order by Time", L"limit 3; select * from Ovra_Log limit 2"}) {
        Rows expected;
        ASSERT_EQ(service.Search(clause, expected), 0);
        Collector streamed;
        ASSERT_EQ(service.Search(clause, streamed), 0);
        EXPECT_EQ(Describe(streamed.rows), Describe(expected)) << clause;
    }
    Collector first;
    first.stopAfter = 10;
    EXPECT_EQ(service.Search(L"order by Time", first), 0);
    ASSERT_EQ(first.rows.size(), 10u);
    EXPECT_EQ(static_cast<long long>(ByName(first.rows.back()).at(L"Time")), 960);
    EXPECT_EQ(service.Search(L"where Nope = 1", first), 1);
    service.Close();
    EXPECT_EQ(service.Search(L"", first), 1);  // not open
}

// The lock is held across the visitor calls and the Cs lets its holder in again: a visitor that
// calls back into the service must fail cleanly instead of running statements under the search.
TEST_F(LogBatchTest, VisitorCallingBackIntoTheServiceIsRefused) {
    ASSERT_EQ(service.Insert({{1, {{L"Msg", T(L"a")}}}, {2, {{L"Msg", T(L"b")}}}}), 0);
    std::vector<int> results;
    Collector collector;
    collector.onRecord = [&] {
        Rows rows;
        unsigned long long count = 0;
        Collector nested;
        results.push_back(service.Insert(3, {{L"Msg", T(L"c")}}));
        results.push_back(service.Insert({{3, {{L"Msg", T(L"c")}}}}));
        results.push_back(service.Search(L"", rows));
        results.push_back(service.Search(L"", nested));
        results.push_back(service.GetRecordCount(L"", count));
        results.push_back(service.Create({{L"X", T::Int32}}));
        results.push_back(service.ReclaimSpace());
        results.push_back(service.EnableWriteAheadLog(1));
        service.Close();
        results.push_back(service.IsOpened());
    };
    ASSERT_EQ(service.Search(L"", collector), 0);
    EXPECT_EQ(collector.rows.size(), 2u);
    EXPECT_EQ(results, std::vector<int>(18, 1));
    EXPECT_EQ(Times(service), (std::vector<long long>{1, 2}));
}

}  // namespace
}  // namespace Ovra
