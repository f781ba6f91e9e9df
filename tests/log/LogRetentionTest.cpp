#include "tests/log/LogTestSupport.h"

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <memory>

namespace Ovra {
namespace {

using namespace logtest;
using Ms = std::vector<long long>;

const long long kNow = 1700003600000LL;
const long long kHour = 3600000LL;
const long long kCutoff = kNow - kHour;

// The retention worker runs against the fake clock, and each of its one-minute waits ends only
// when the test lets it.
class LogRetentionTest : public testing::Test {
protected:
    LogRetentionTest() : scope(fake) {
        fake.EnableWaitGate(true);
        fake.SetTime(kNow);
    }
    void OpenWithRecords(LogService& log, const Ms& times, const std::string& name = "log.db") {
        ASSERT_EQ(log.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(log.Create({{L"Level", T::Int32}}), 0);
        for (long long time : times) ASSERT_EQ(log.Insert(time, {{L"Level", T(1)}}), 0);
    }
    // Starts the worker of `log`, or else lets the worker's current wait time out; then waits
    // until the next wait has begun.
    void RunPass(LogService* log = nullptr) {
        const std::uint64_t entered = fake.Gate().Entered();
        log ? log->EnableRetention(1) : fake.Gate().Elapse(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
    }
    std::size_t Passes() const { return fake.CallsNamed("GetCurTime").size(); }

    ScratchDir dir;
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope;
};

// A pass before Open fails quietly; the retention is read at each pass.
TEST_F(LogRetentionTest, RecordsStrictlyOlderThanTheCutoffAreDeleted) {
    TestableLogService service;
    service.EnableRetention(0);  // nothing running: returns at once
    RunPass(&service);
    service.EnableRetention(1);
    EXPECT_EQ(Passes(), 0u);  // the first pass waits a minute
    EXPECT_EQ(fake.CallsNamed("WaitForMultipleObjects").back().args[2], 60000u);
    RunPass();
    OpenWithRecords(service, {kCutoff - 1, kCutoff, kNow});
    RunPass();
    EXPECT_EQ(Times(service), (Ms{kCutoff, kNow}));
    service.SetRetentionTime(0);  // keeps only what is not older than now
    fake.SetTime(kNow + 1);
    RunPass();
    service.EnableRetention(0);  // during the wait: no further pass
    EXPECT_EQ(Times(service), Ms{});
    EXPECT_EQ(Passes(), 3u);  // one worker
    // The stop request stays until the next start: a chunked pass ends after its first chunk,
    // without going on to the size bound.
    service.SetRetentionBatchSize(1);
    service.SetRetentionMaxBytes(1);
    for (long long time : {kNow - 2, kNow - 1, kNow}) service.Insert(time, {{L"Level", T(1)}});
    service.DeleteOldRecord();
    EXPECT_EQ(Times(service), (Ms{kNow - 1, kNow}));
    // Destroying a service whose worker runs stops the worker first.
    auto other = std::make_unique<LogService>();
    RunPass(other.get());
    other.reset();
}

// Ten expired records around a cutoff: chunks of 3 (the last one short) and of 5 (the last one
// full, so one more finds nothing) remove exactly what the single statement removes.
TEST_F(LogRetentionTest, ChunkedPassRemovesWhatTheSingleStatementRemoves) {
    Ms times = {kCutoff, kCutoff + 1, kNow};
    for (int i = 1; i <= 10; ++i) times.push_back(kCutoff - i * 1000);
    for (unsigned int batch : {0u, 3u, 5u}) {
        LogService service;
        OpenWithRecords(service, times, "log" + std::to_string(batch) + ".db");
        service.SetRetentionBatchSize(batch);
        RunPass(&service);
        RunPass();
        service.EnableRetention(0);
        EXPECT_EQ(Times(service), (Ms{kCutoff, kCutoff + 1, kNow})) << batch;
    }
    EXPECT_EQ(Passes(), 3u);  // one cutoff per pass
}

// The bound removes the oldest records until the pages in use fit; ReclaimSpace then hands the
// freed pages back, by VACUUM or, on an incremental auto-vacuum file, by incremental_vacuum.
TEST_F(LogRetentionTest, SizeBoundKeepsTheNewestRecordsAndReclaimShrinksTheFile) {
    for (const std::string name : {"plain.db", "incremental.db"}) {
        if (name == "incremental.db") RawQuery(dir.Utf8Path(name), "PRAGMA auto_vacuum=2");
        LogService service;
        ASSERT_EQ(service.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(service.Create({{L"Msg", T::Text}}), 0);
        std::list<LogService::Record> records;
        for (int i = 0; i < 2000; ++i)
            records.push_back({kNow - i, {{L"Msg", T(std::wstring(300, L'a' + i % 26))}}});
        ASSERT_EQ(service.Insert(records), 0);
        const auto usedBytes = [&] {
            return std::stoull(RawQuery(dir.Utf8Path(name),
                                        "select (page_count - freelist_count) * page_size from "
                                        "pragma_page_count, pragma_freelist_count, "
                                        "pragma_page_size"));
        };
        const unsigned long long bound = usedBytes() / 3;
        service.SetRetentionMaxBytes(bound);
        service.SetRetentionBatchSize(50);
        RunPass(&service);
        RunPass();
        service.EnableRetention(0);
        EXPECT_LE(usedBytes(), bound);
        const Ms left = Times(service);
        ASSERT_GT(left.size(), 400u);
        EXPECT_EQ(left.front(), kNow - static_cast<long long>(left.size()) + 1);  // the newest
        ASSERT_EQ(service.ReclaimSpace(), 0);
        EXPECT_LE(std::filesystem::file_size(dir.Path(name)), bound + 4096) << name;
        EXPECT_EQ(Times(service), left);
    }
}

}  // namespace
}  // namespace Ovra
