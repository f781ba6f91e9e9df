#include "tests/log/LogTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Ovra {
namespace {

using namespace logtest;

const std::list<LogService::Field> kFields = {{L"Msg", T::Text}, {L"Level", T::Int32}};

class ExposedLogService : public LogService {
public:
    using LogService::DeleteOldRecord;
};

void FillRecords(LogService& service, int count) {
    std::list<LogService::Record> records;
    for (int i = 0; i < count; ++i) {
        records.push_back({i, {{L"Msg", LogVariant(std::wstring(200, L'x'))}, {L"Level", T(i)}}});
    }
    ASSERT_EQ(service.Insert(records), 0);
}

// Overwrites the header of the file's last page, a leaf that a full scan of the table reaches
// only after the others.
void SmashLastPage(const std::filesystem::path& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[18];
    file.read(reinterpret_cast<char*>(header), sizeof header);
    const unsigned pageSize = header[16] << 8 | header[17];
    ASSERT_GE(pageSize, 512u);
    file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(path) - pageSize));
    file.write(std::string(16, '\xff').data(), 16);
    ASSERT_TRUE(file.good());
}

struct Counter : LogSearchVisitor {
    int OnLogRecord(const std::list<LogService::FieldData>&) override { return ++records, 0; }
    int records = 0;
};

// Every operation that meets the damaged page fails with 1 and marks the file broken until Close.
TEST(LogServiceFaults, CorruptFileIsMarkedBrokenByEveryOperationThatMeetsIt) {
    ScratchDir dir;
    ExposedLogService service;
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    ASSERT_EQ(service.Create(kFields), 0);
    FillRecords(service, 300);
    service.Close();
    SmashLastPage(dir.Path("log.db"));

    Counter visitor;
    const char* names[] = {"search", "visit", "count", "batch", "retention", "chunked retention"};
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
        EXPECT_EQ(result, 1) << names[i];
        // No part of a result is kept.
        EXPECT_EQ(rows.size() + count, i == 0 ? 7u : i == 2 ? 1u : 8u) << names[i];
        EXPECT_NE(service.IsBrokenLogFile(), 0) << names[i];
        service.Close();
    }
    EXPECT_GT(visitor.records, 0);  // the damage was met part-way through the rows
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
}

TEST(LogServiceFaults, FilesThatCannotBeOpenedGiveOne) {
    ScratchDir dir;
    std::ofstream(dir.Path("junk.db"), std::ios::binary) << std::string(4096, 'j');
    LogService service;
    EXPECT_EQ(service.Open(dir.WidePath("junk.db")), 1);  // not a database
    EXPECT_EQ(service.IsOpened(), 0);
    EXPECT_EQ(service.Open(dir.WidePath("missing/log.db")), 1);
    EXPECT_EQ(service.Open(dir.WidePath("log.db")), 0);  // a failed open leaves nothing behind
}

TEST(LogServiceFaults, WriteLockOfAnotherConnectionTimesOut) {
    ScratchDir dir;
    LogService service;
    LogServiceTestAccess::Db(service).SetBusyTimeout(20);
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    ASSERT_EQ(service.Create(kFields), 0);
    RawDb other(dir.Utf8Path("log.db"));
    ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    Rows rows{{}};
    unsigned long long count = 0;
    EXPECT_EQ(service.Insert(1, {{L"Level", T(1)}}), 1);
    EXPECT_EQ(service.Search(L"", rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(service.GetRecordCount(L"", count), 1);
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    EXPECT_EQ(service.Insert(1, {{L"Level", T(1)}}), 0);
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
}

#if !defined(_WIN32)
// Natively the service shares this binary's SQLite, whose allocator the test controls.
TEST(LogServiceFaults, OutOfMemoryGivesOneHundredTwo) {
    ScratchDir dir;
    logtest::SqliteAllocFailure failure;
    LogService service;
    failure.Fail(true);
    EXPECT_EQ(service.Open(dir.WidePath("log.db")), 102);
    failure.Fail(false);
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    ASSERT_EQ(service.Create(kFields), 0);
    FillRecords(service, 3);
    Rows rows;
    unsigned long long count = 0;
    failure.Fail(true);
    const int results[] = {service.Insert(9, {{L"Level", T(9)}}), service.Search(L"", rows),
                           service.GetRecordCount(L"", count), service.CreateIndex(kFields)};
    failure.Fail(false);
    for (const int result : results) EXPECT_EQ(result, 102);
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
    EXPECT_EQ(logtest::Times(service), (std::vector<long long>{0, 1, 2}));
    service.Close();  // before the allocator is put back
}
#endif

}  // namespace
}  // namespace Ovra
