#include "LogTestSupport.h"

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

namespace Ovra {
namespace {

using logtest::ByName;
using logtest::Data;
using logtest::MakeField;
using logtest::RawDb;
using logtest::ScratchDir;

const long long kNow = 1700003600000LL;
const long long kHour = 3600000LL;

// Runs a hook at the next zero-timeout wait once armed: the worker's look for a stop request
// between two chunks of a pass.
class ChunkHookPlatform : public fakes::FakePlatform {
public:
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const platform::Handle* handles,
                                         int waitAll, std::uint32_t milliseconds) override {
        if (milliseconds == 0 && onZeroWait) {
            const std::function<void()> hook = std::move(onZeroWait);
            onZeroWait = nullptr;
            hook();
        }
        return FakePlatform::WaitForMultipleObjects(count, handles, waitAll, milliseconds);
    }
    std::function<void()> onZeroWait;  // set while no worker runs
};

// The retention worker runs against the fake clock, and each of its one-minute waits ends only
// when the test lets it.
class LogRetentionTest : public testing::Test {
protected:
    LogRetentionTest() : scope(fake) {
        fake.EnableWaitGate(true);
        fake.SetTime(kNow);
    }

    void OpenWithRecords(LogService& service, const std::vector<long long>& times,
                         const std::string& name = "log.db") {
        ASSERT_EQ(service.Open(dir.WidePath(name)), 0);
        if (service.Create({MakeField(L"Level", LogVariant::Int32)}) == 0) {
            for (long long time : times) {
                ASSERT_EQ(service.Insert(time, {Data(L"Level", LogVariant(1))}), 0);
            }
        }
    }

    static std::vector<long long> Times(LogService& service) {
        logtest::Rows rows;
        EXPECT_EQ(service.Search(L"ORDER BY Time", rows), 0);
        std::vector<long long> times;
        for (const auto& row : rows) times.push_back(ByName(row).at(L"Time"));
        return times;
    }

    // Lets the worker's current wait time out and waits until the pass is over and the next
    // wait has begun.
    void RunPass() {
        const std::uint64_t entered = fake.Gate().Entered();
        fake.Gate().Elapse(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
    }

    // Starts the worker, lets exactly one pass run, and stops it.
    void OnePass(LogService& service) {
        const std::uint64_t entered = fake.Gate().Entered();
        service.EnableRetention(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
        RunPass();
        service.EnableRetention(0);
    }

    ScratchDir dir;
    ChunkHookPlatform fake;
    platform::ScopedPlatform scope;
};

TEST_F(LogRetentionTest, RecordsStrictlyOlderThanTheCutoffAreDeleted) {
    LogService service;
    const long long cutoff = kNow - kHour;
    OpenWithRecords(service, {cutoff - 1, cutoff, kNow - 59 * 60000LL, kNow});
    EXPECT_EQ(service.GetRetentionTime(), 60u);
    service.EnableRetention(0);  // nothing running: returns at once
    service.EnableRetention(1);
    service.EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 0u);  // the first pass waits a minute
    EXPECT_EQ(fake.CallsNamed("WaitForMultipleObjects").back().args[2], 60000u);
    RunPass();
    EXPECT_EQ(Times(service), (std::vector<long long>{cutoff, kNow - 59 * 60000LL, kNow}));

    // The retention is read at each pass; 0 keeps only what is not older than now.
    service.SetRetentionTime(0);
    fake.SetTime(kNow + 1);
    RunPass();
    service.EnableRetention(0);
    EXPECT_EQ(Times(service), (std::vector<long long>{}));
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 2u);  // one worker, two passes
}

TEST_F(LogRetentionTest, WorkerOfAClosedServiceDeletesNothingUntilOpened) {
    {
        LogService writer;
        OpenWithRecords(writer, {kNow - 2 * kHour, kNow});
    }
    LogService service;
    service.EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    RunPass();
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 1u);  // the pass ran and failed quietly
    OpenWithRecords(service, {});
    EXPECT_EQ(Times(service), (std::vector<long long>{kNow - 2 * kHour, kNow}));
    EXPECT_EQ(service.IsBrokenLogFile(), 0);
    RunPass();
    service.EnableRetention(0);
    EXPECT_EQ(Times(service), (std::vector<long long>{kNow}));
}

TEST_F(LogRetentionTest, StopDuringTheWaitEndsWithoutAnotherPass) {
    LogService service;
    OpenWithRecords(service, {kNow - 2 * kHour});
    service.EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    service.EnableRetention(0);
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 0u);
    EXPECT_EQ(Times(service).size(), 1u);

    // Destroying a service whose worker runs stops the worker first.
    auto other = std::make_unique<LogService>();
    other->EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    other.reset();
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 0u);
}

// Inserters, a reader and the worker share one service. Every second record is old, and the
// worker (retention 0) runs a pass whenever the test lets it; in the end only the new records
// are left, all of them.
TEST_F(LogRetentionTest, ConcurrentInsertsSearchesAndDeletionsStayConsistent) {
    const int kThreads = 3;
    const int kPerThread = 60;
    LogService service;
    OpenWithRecords(service, {});
    service.SetRetentionTime(0);
    service.EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));

    std::atomic<int> finished{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> inserters;
    for (int t = 0; t < kThreads; ++t) {
        inserters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const long long time = i % 2 ? kNow + t * 1000 + i : kNow - 1 - i;
                if (service.Insert(time, {Data(L"Level", LogVariant(t))}) != 0) ++failures;
            }
            ++finished;
        });
    }
    std::thread reader([&] {
        while (finished < kThreads) {
            logtest::Rows rows;
            unsigned long long count = 0;
            if (service.Search(L"", rows) != 0 || service.GetRecordCount(L"", count) != 0)
                ++failures;
            if (rows.size() > kThreads * kPerThread || count > kThreads * kPerThread) ++failures;
            for (const auto& row : rows) {
                if (row.size() != 2) ++failures;
            }
        }
    });
    while (finished < kThreads) RunPass();
    for (auto& thread : inserters) thread.join();
    reader.join();
    RunPass();
    service.EnableRetention(0);

    EXPECT_EQ(failures, 0);
    unsigned long long count = 0;
    ASSERT_EQ(service.GetRecordCount(L"", count), 0);
    EXPECT_EQ(count, static_cast<unsigned long long>(kThreads * kPerThread / 2));
    ASSERT_EQ(service.GetRecordCount(L"where Time < 1700003600000", count), 0);
    EXPECT_EQ(count, 0u);
}

// Ten expired records around a cutoff: chunks of 3 (the last one short) and of 5 (the last one
// full, so one more finds nothing) remove exactly what the single statement removes.
TEST_F(LogRetentionTest, ChunkedPassRemovesWhatTheSingleStatementRemoves) {
    const long long cutoff = kNow - kHour;
    std::vector<long long> times = {cutoff, cutoff + 1, kNow};
    for (int i = 1; i <= 10; ++i) times.push_back(cutoff - i * 1000);
    std::vector<std::vector<long long>> left;
    for (unsigned int batch : {0u, 3u, 5u}) {
        LogService service;
        OpenWithRecords(service, times, "log" + std::to_string(batch) + ".db");
        service.SetRetentionBatchSize(batch);
        EXPECT_EQ(service.GetRetentionBatchSize(), batch);
        OnePass(service);
        left.push_back(Times(service));
    }
    EXPECT_EQ(left[0], (std::vector<long long>{cutoff, cutoff + 1, kNow}));
    EXPECT_EQ(left[1], left[0]);
    EXPECT_EQ(left[2], left[0]);
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 3u);  // one cutoff per pass
}

TEST_F(LogRetentionTest, StopRequestBetweenChunksEndsThePass) {
    const long long cutoff = kNow - kHour;
    std::vector<long long> times = {kNow};
    for (int i = 1; i <= 10; ++i) times.push_back(cutoff - i);
    LogService service;
    OpenWithRecords(service, times);
    service.SetRetentionBatchSize(3);
    service.SetRetentionMaxBytes(1);  // would delete everything, were the pass not stopped
    service.EnableRetention(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    // From the worker itself EnableRetention(0) only requests the stop.
    std::promise<void> requested;
    fake.onZeroWait = [&] {
        service.EnableRetention(0);
        requested.set_value();
    };
    fake.Gate().Elapse(1);
    requested.get_future().wait();
    service.EnableRetention(0);
    // The oldest chunk went; the worker then ended without another chunk or pass.
    EXPECT_EQ(Times(service),
              (std::vector<long long>{cutoff - 7, cutoff - 6, cutoff - 5, cutoff - 4, cutoff - 3,
                                      cutoff - 2, cutoff - 1, kNow}));
    EXPECT_EQ(fake.CallsNamed("GetCurTime").size(), 1u);
}

// The bound removes the oldest records until the pages in use fit; ReclaimSpace then hands the
// freed pages back, by VACUUM or, on an incremental auto-vacuum file, by incremental_vacuum.
TEST_F(LogRetentionTest, SizeBoundKeepsTheNewestRecordsAndReclaimShrinksTheFile) {
    for (const bool incremental : {false, true}) {
        const std::string name = incremental ? "incremental.db" : "plain.db";
        if (incremental) RawDb(dir.Utf8Path(name)).Exec("PRAGMA auto_vacuum=INCREMENTAL");
        LogService service;
        ASSERT_EQ(service.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(service.Create({MakeField(L"Msg", LogVariant::Text)}), 0);
        ASSERT_EQ(service.CreateIndex({MakeField(L"Msg", LogVariant::Text)}), 0);
        std::list<LogService::Record> records;
        for (int i = 0; i < 2000; ++i) {
            records.push_back(
                {kNow - i, {Data(L"Msg", LogVariant(std::wstring(300, L'a' + i % 26)))}});
        }
        ASSERT_EQ(service.Insert(records), 0);
        const auto usedBytes = [&] {
            return std::stoull(RawDb(dir.Utf8Path(name))
                                   .Scalar("select (page_count - freelist_count) * page_size from "
                                           "pragma_page_count, pragma_freelist_count, "
                                           "pragma_page_size"));
        };
        const unsigned long long full = usedBytes();
        const unsigned long long bound = full / 3;
        service.SetRetentionMaxBytes(bound);
        service.SetRetentionBatchSize(50);
        OnePass(service);

        EXPECT_LE(usedBytes(), bound);
        const std::vector<long long> left = Times(service);
        ASSERT_GT(left.size(), 400u);
        ASSERT_LT(left.size(), 700u);
        EXPECT_EQ(left.front(), kNow - static_cast<long long>(left.size()) + 1);  // the newest
        EXPECT_EQ(left.back(), kNow);

        const auto fileSize = std::filesystem::file_size(dir.Path(name));
        EXPECT_GE(fileSize, full);
        ASSERT_EQ(service.ReclaimSpace(), 0);
        EXPECT_LE(std::filesystem::file_size(dir.Path(name)), bound + 4096) << name;
        EXPECT_EQ(Times(service), left);
    }
    LogService closed;
    EXPECT_EQ(closed.ReclaimSpace(), 1);
}

}  // namespace
}  // namespace Ovra
