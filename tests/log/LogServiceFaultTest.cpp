#include "tests/log/LogTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Ovra {
namespace {

using namespace logtest;

class LogServiceFaults : public testing::Test {
protected:
    void OpenWithRecords(int count) {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        ASSERT_EQ(service.Create({{L"Msg", T::Text}, {L"Level", T::Int32}}), 0);
        std::list<LogService::Record> records;
        for (int i = 0; i < count; ++i)
            records.push_back({i, {{L"Msg", T(std::wstring(200, L'x'))}}});
        ASSERT_EQ(service.Insert(records), 0);
    }
    ScratchDir dir;
    TestableLogService service;
};

// Every operation that meets the damaged page fails with 1 and marks the file broken until Close.
TEST_F(LogServiceFaults, CorruptFileIsMarkedBrokenByEveryOperationThatMeetsIt) {
    OpenWithRecords(300);
    service.Close();
    // Overwrites the header of the last page, a leaf that a full scan reaches after the others.
    const auto pageSize = std::stoull(RawQuery(dir.Utf8Path("log.db"), "PRAGMA page_size"));
    std::fstream file(dir.Path("log.db"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(-static_cast<std::streamoff>(pageSize), std::ios::end);
    ASSERT_TRUE(file.write(std::string(16, '\xff').data(), 16).flush().good());

    Collector visitor;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);  // the schema page is intact
        EXPECT_EQ(service.IsBrokenLogFile(), 0);
        Rows rows{{}};
        unsigned long long count = 7;
        service.SetRetentionBatchSize(i == 5 ? 10 : 0);
        const int result = i == 0   ? service.Search(L"", rows)
                           : i == 1 ? service.Search(L"", visitor)
                           : i == 2 ? service.GetRecordCount(L"", count)
                           : i == 3 ? service.Insert({{1, {{L"Level", T(1)}}}})
                                    : (service.DeleteOldRecord(), 1);
        EXPECT_EQ(result, 1) << i;
        // No part of a result is kept.
        EXPECT_EQ(rows.size() + count, i == 0 ? 7u : i == 2 ? 1u : 8u) << i;
        EXPECT_NE(service.IsBrokenLogFile(), 0) << i;
        service.Close();
    }
    EXPECT_FALSE(visitor.rows.empty());  // the damage was met part-way through the rows
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
}

#if !defined(_WIN32)
// Natively the service shares this binary's SQLite, whose heap limit the test sets: at one byte
// every allocation fails.
TEST_F(LogServiceFaults, OutOfMemoryGivesOneHundredTwo) {
    sqlite3_hard_heap_limit64(1);
    EXPECT_EQ(service.Open(dir.WidePath("log.db")), 102);
    sqlite3_hard_heap_limit64(0);
    OpenWithRecords(3);
    Rows rows;
    unsigned long long count = 0;
    sqlite3_hard_heap_limit64(1);
    const std::vector<int> results({service.Insert(9, {{L"Level", T(9)}}),
                                    service.Search(L"", rows), service.GetRecordCount(L"", count),
                                    service.CreateIndex({{L"Level", T::Int32}})});
    sqlite3_hard_heap_limit64(0);
    EXPECT_EQ(results, std::vector<int>(4, 102));
    EXPECT_EQ(Times(service), (std::vector<long long>{0, 1, 2}));
}
#endif

}  // namespace
}  // namespace Ovra
