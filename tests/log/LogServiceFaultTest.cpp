#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Ovra {
namespace {

using logtest::Data;
using logtest::MakeField;
using logtest::RawDb;
using logtest::ScratchDir;

const std::list<LogService::Field> kFields = {MakeField(L"Msg", LogVariant::Text),
                                              MakeField(L"Level", LogVariant::Int32)};

void FillRecords(LogService& service, int count) {
    const std::wstring text(200, L'x');
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(
            service.Insert(i, {Data(L"Msg", LogVariant(text)), Data(L"Level", LogVariant(i))}), 0);
    }
}

// Overwrites the header of the table's first b-tree page (page 2, after sqlite_master).
void SmashSecondPage(const std::filesystem::path& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.good());
    unsigned char header[18];
    file.read(reinterpret_cast<char*>(header), sizeof header);
    const unsigned pageSize =
        header[16] == 0 && header[17] == 1 ? 65536u : header[16] << 8 | header[17];
    ASSERT_GE(pageSize, 512u);
    const char garbage[16] = {'\xff', '\xff', '\xff', '\xff', '\xff', '\xff', '\xff', '\xff',
                              '\xff', '\xff', '\xff', '\xff', '\xff', '\xff', '\xff', '\xff'};
    file.seekp(pageSize);
    file.write(garbage, sizeof garbage);
    ASSERT_TRUE(file.good());
}

TEST(LogServiceFaults, CorruptFileFailsAndStaysMarkedBrokenUntilClose) {
    ScratchDir dir;
    LogService service;
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    ASSERT_EQ(service.Create(kFields), 0);
    FillRecords(service, 300);
    service.Close();
    SmashSecondPage(dir.Path("log.db"));

    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);  // the schema page is intact
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
    logtest::Rows rows;
    EXPECT_EQ(service.Search(L"", rows), 1);
    EXPECT_NE(service.IsBrokenLogFile(), 0);
    unsigned long long count = 7;
    EXPECT_EQ(service.GetRecordCount(L"", count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(service.IsBrokenLogFile(), 0);  // the service keeps working in that state
    service.Close();
    EXPECT_EQ(service.IsBrokenLogFile(), 0);

    // The streaming search and the batch mark it the same way.
    struct Counter : LogSearchVisitor {
        int OnLogRecord(const std::list<LogService::FieldData>&) override { return 0; }
    } visitor;
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    EXPECT_EQ(service.Search(L"", visitor), 1);
    EXPECT_NE(service.IsBrokenLogFile(), 0);
    service.Close();
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    LogService::Record record;
    record.time = 1;
    record.data = {Data(L"Level", LogVariant(1))};
    EXPECT_EQ(service.Insert({record, record}), 1);
    EXPECT_NE(service.IsBrokenLogFile(), 0);
}

TEST(LogServiceFaults, FilesThatCannotBeOpenedGiveOne) {
    ScratchDir dir;
    {
        std::ofstream junk(dir.Path("junk.db"), std::ios::binary);
        junk << std::string(4096, 'j');
    }
    LogService service;
    EXPECT_EQ(service.Open(dir.WidePath("junk.db")), 1);  // not a database
    EXPECT_EQ(service.IsOpened(), 0);
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
    EXPECT_EQ(service.Open(dir.WidePath("missing/log.db")), 1);
    EXPECT_EQ(service.IsOpened(), 0);
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
    EXPECT_EQ(service.Insert(1, {Data(L"Level", LogVariant(1))}), 1);
    logtest::Rows rows;
    EXPECT_EQ(service.Search(L"", rows), 1);
    unsigned long long count = 0;
    EXPECT_EQ(service.GetRecordCount(L"", count), 1);
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);

    EXPECT_EQ(service.Insert(1, {Data(L"Level", LogVariant(1))}), 0);
    EXPECT_EQ(service.GetRecordCount(L"", count), 0);
    EXPECT_EQ(count, 1u);
}

#if !defined(_WIN32)
// Natively the service shares this binary's SQLite, whose allocator the test controls; the
// Windows DLL carries its own copy, so this runs in the native builds only.
TEST(LogServiceFaults, OutOfMemoryGivesOneHundredTwo) {
    ScratchDir dir;
    logtest::SqliteAllocFailure failure;
    {
        LogService service;
        failure.Fail(true);
        EXPECT_EQ(service.Open(dir.WidePath("log.db")), 102);
        failure.Fail(false);
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        ASSERT_EQ(service.Create(kFields), 0);
        FillRecords(service, 3);

        failure.Fail(true);
        const int insert = service.Insert(9, {Data(L"Level", LogVariant(9))});
        logtest::Rows rows;
        const int search = service.Search(L"", rows);
        unsigned long long count = 0;
        const int counted = service.GetRecordCount(L"", count);
        const int indexed = service.CreateIndex(kFields);
        failure.Fail(false);

        EXPECT_EQ(insert, 102);
        EXPECT_EQ(search, 102);
        EXPECT_EQ(counted, 102);
        EXPECT_EQ(indexed, 102);
        EXPECT_EQ(service.IsBrokenLogFile(), 0);
        EXPECT_EQ(service.GetRecordCount(L"", count), 0);
        EXPECT_EQ(count, 3u);
    }
}
#endif

}  // namespace
}  // namespace Ovra
