#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace Ovra {
namespace {

using logtest::Data;
using logtest::MakeField;
using logtest::RawDb;
using logtest::Rows;
using logtest::ScratchDir;

const std::list<LogService::Field> kFields = {
    MakeField(L"Msg", LogVariant::Text, 2), MakeField(L"Level", LogVariant::Int8),
    MakeField(L"Ratio", LogVariant::Float), MakeField(L"Value", LogVariant::Double)};

LogService::Record MakeRecord(long long time, const std::list<LogService::FieldData>& data) {
    LogService::Record record;
    record.time = time;
    record.data = data;
    return record;
}

// A record as comparable text: every value with its type.
std::string Describe(const logtest::Row& row) {
    std::string out;
    for (const LogService::FieldData& field : row) {
        out += std::string(field.name.begin(), field.name.end()) + "=" +
               std::to_string(field.value.GetType()) + ":";
        for (wchar_t c : field.value.ToString()) out += c < 128 ? static_cast<char>(c) : '?';
        out += ";";
    }
    return out;
}

std::vector<std::string> Describe(const Rows& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(Describe(row));
    return out;
}

class LogBatchTest : public testing::Test {
protected:
    void OpenWithTable(LogService& service, const std::string& name = "log.db") {
        ASSERT_EQ(service.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(service.Create(kFields), 0);
    }
    unsigned long long Count(LogService& service) {
        unsigned long long count = 0;
        EXPECT_EQ(service.GetRecordCount(L"", count), 0);
        return count;
    }

    ScratchDir dir;
    LogService service;
};

TEST_F(LogBatchTest, BatchIsAllOrNothing) {
    const LogService::Record good = MakeRecord(1, {Data(L"Msg", LogVariant(L"it's ok"))});
    const LogService::Record noMsg = MakeRecord(2, {Data(L"Level", LogVariant(3))});
    EXPECT_EQ(service.Insert(std::list<LogService::Record>{}), 104);
    EXPECT_EQ(service.Insert({good}), 1);  // not open
    OpenWithTable(service);

    // Refused before anything runs.
    EXPECT_EQ(service.Insert({good, MakeRecord(3, {}), good}), 104);
    EXPECT_EQ(service.Insert({good, MakeRecord(3, {Data(L"Msg x", LogVariant(L"a"))})}), 1);
    // The middle record breaks "not null" and the one after it names no such column: the first
    // failure decides, and nothing of the batch stays.
    EXPECT_EQ(service.Insert({good, noMsg, MakeRecord(4, {Data(L"Nope", LogVariant(1))})}), 1);
    EXPECT_EQ(Count(service), 0u);
    EXPECT_FALSE(LogServiceTestAccess::Db(service).InTransaction());

    // The connection is usable at once, and another connection can write: no lock is left over.
    EXPECT_EQ(service.Insert({good, good}), 0);
    RawDb raw(dir.Utf8Path("log.db"));
    sqlite3_busy_timeout(raw.Handle(), 0);
    EXPECT_EQ(raw.Exec("insert into Ovra_Log(Time, Msg) values(9, 'raw')"), SQLITE_OK);
    EXPECT_EQ(Count(service), 3u);
    EXPECT_EQ(raw.Scalar("select Msg from Ovra_Log where Time = 1"), "it's ok");
}

TEST_F(LogBatchTest, BatchStoresWhatSingleInsertsStore) {
    std::list<LogService::Record> records;
    for (int i = 0; i < 40; ++i) {
        std::list<LogService::FieldData> data = {
            Data(L"Msg", LogVariant(L"m'" + std::to_wstring(i) + L"\u00e9"))};
        if (i % 3) data.push_back(Data(L"Level", LogVariant(static_cast<signed char>(i - 20))));
        if (i % 4) data.push_back(Data(L"Ratio", LogVariant(i * 0.5f)));
        data.push_front(Data(L"Value", LogVariant(i * -1.25e10)));
        records.push_back(MakeRecord(1700000000000LL + i % 7, data));
    }
    LogService single;
    OpenWithTable(single, "single.db");
    for (const auto& record : records) ASSERT_EQ(single.Insert(record.time, record.data), 0);
    OpenWithTable(service, "batch.db");
    ASSERT_EQ(service.Insert(records), 0);
    single.Close();
    service.Close();

    const std::string query =
        "select Time, Msg, typeof(Level), Level, Ratio, Value from Ovra_Log "
        "order by rowid";
    const auto expected = RawDb(dir.Utf8Path("single.db")).Rows(query);
    EXPECT_EQ(expected.size(), records.size());
    EXPECT_EQ(RawDb(dir.Utf8Path("batch.db")).Rows(query), expected);
}

TEST_F(LogBatchTest, WriteAheadLogStaysWithTheFile) {
    EXPECT_EQ(service.EnableWriteAheadLog(1), 1);  // not open
    OpenWithTable(service);
    ASSERT_EQ(service.EnableWriteAheadLog(1), 0);
    ASSERT_EQ(service.Insert(5, {Data(L"Msg", LogVariant(L"a"))}), 0);
    service.Close();
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db")).Scalar("PRAGMA journal_mode"), "wal");

    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db")).Scalar("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Count(service), 1u);
    ASSERT_EQ(service.EnableWriteAheadLog(0), 0);
    service.Close();
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db")).Scalar("PRAGMA journal_mode"), "delete");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("log.db-wal")));
}

// Collects what a streaming search hands over; optionally stops after a number of records or
// calls back into the service from inside.
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
    Collector collector;
    EXPECT_EQ(service.Search(L"", collector), 1);  // not open
    OpenWithTable(service);
    EXPECT_EQ(service.Search(L"", collector), 0);  // empty table
    std::list<LogService::Record> records;
    for (int i = 0; i < 50; ++i) {
        std::list<LogService::FieldData> data = {
            Data(L"Msg", LogVariant(L"r" + std::to_wstring(i)))};
        if (i % 2) data.push_back(Data(L"Level", LogVariant(300 + i)));  // narrowed to 8 bits
        if (i % 5) data.push_back(Data(L"Ratio", LogVariant(i / 4.0f)));
        records.push_back(MakeRecord(1000 - i, data));
    }
    ASSERT_EQ(service.Insert(records), 0);
    EXPECT_TRUE(collector.rows.empty());

    for (const std::wstring clause : {L"", L"where Level is null order by Time", L"limit 3"}) {
        Rows expected;
        ASSERT_EQ(service.Search(clause, expected), 0);
        Collector streamed;
        ASSERT_EQ(service.Search(clause, streamed), 0);
        EXPECT_EQ(Describe(streamed.rows), Describe(expected));
    }

    Collector first10;
    first10.stopAfter = 10;
    EXPECT_EQ(service.Search(L"order by Time", first10), 0);
    ASSERT_EQ(first10.rows.size(), 10u);
    EXPECT_EQ(static_cast<long long>(logtest::ByName(first10.rows.back()).at(L"Time")), 960);

    EXPECT_EQ(service.Search(L"where", collector), 1);
    EXPECT_EQ(service.Search(L"where Nope = 1", collector), 1);
    EXPECT_TRUE(collector.rows.empty());
}

// The lock is held across the visitor calls and the Cs lets its holder in again: a visitor that
// calls back into the service must fail cleanly instead of running statements under the search.
TEST_F(LogBatchTest, VisitorCallingBackIntoTheServiceIsRefused) {
    OpenWithTable(service);
    ASSERT_EQ(service.Insert({MakeRecord(1, {Data(L"Msg", LogVariant(L"a"))}),
                              MakeRecord(2, {Data(L"Msg", LogVariant(L"b"))})}),
              0);
    std::vector<int> results;
    Collector collector;
    collector.onRecord = [&] {
        Rows rows;
        unsigned long long count = 0;
        Collector nested;
        results.push_back(service.Insert(3, {Data(L"Msg", LogVariant(L"c"))}));
        results.push_back(service.Insert({MakeRecord(3, {Data(L"Msg", LogVariant(L"c"))})}));
        results.push_back(service.Search(L"", rows));
        results.push_back(service.Search(L"", nested));
        results.push_back(service.GetRecordCount(L"", count));
        results.push_back(service.Create({MakeField(L"X", LogVariant::Int32)}));
        results.push_back(service.ReclaimSpace());
        results.push_back(service.EnableWriteAheadLog(1));
        service.Close();
        results.push_back(service.IsOpened());
    };
    ASSERT_EQ(service.Search(L"", collector), 0);
    EXPECT_EQ(collector.rows.size(), 2u);
    EXPECT_EQ(results, std::vector<int>(18, 1));
    EXPECT_EQ(Count(service), 2u);  // and the service works again afterwards
}

}  // namespace
}  // namespace Ovra
