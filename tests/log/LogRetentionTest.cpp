#include "LogTestSupport.h"

#include "fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace Ovra {
namespace {

using logtest::ByName;
using logtest::Data;
using logtest::MakeField;
using logtest::ScratchDir;

const long long kNow = 1700003600000LL;
const long long kHour = 3600000LL;

// The retention worker runs against the fake clock, and each of its one-minute waits ends only
// when the test lets it.
class LogRetentionTest : public testing::Test {
protected:
    LogRetentionTest() : scope(fake) {
        fake.EnableWaitGate(true);
        fake.SetTime(kNow);
    }

    void OpenWithRecords(LogService& service, const std::vector<long long>& times) {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        if (service.Create({MakeField(L"Level", LogVariant::Int32)}) == 0) {
            for (long long time : times) {
                ASSERT_EQ(service.Insert(time, {Data(L"Level", LogVariant(1))}), 0);
            }
        }
    }

    static std::vector<long long> Times(LogService& service) {
        std::list<LogService::Record> rows;
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

    ScratchDir dir;
    fakes::FakePlatform fake;
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
            std::list<LogService::Record> rows;
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

}  // namespace
}  // namespace Ovra
