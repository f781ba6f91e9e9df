#include "tests/log/LogTestSupport.h"

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace Ovra {
namespace {

using namespace logtest;
using Ms = std::vector<long long>;

const long long kNow = 1700003600000LL;
const long long kHour = 3600000LL;
const long long kCutoff = kNow - kHour;

// Runs a hook, once armed, at the next zero-timeout wait: the worker's look for a stop request
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
    void OpenWithRecords(LogService& log, const Ms& times, const std::string& name = "log.db") {
        ASSERT_EQ(log.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(log.Create({{L"Level", T::Int32}}), 0);
        for (long long time : times) ASSERT_EQ(log.Insert(time, {{L"Level", T(1)}}), 0);
    }
    // Lets the worker's current wait time out and waits until the next wait has begun.
    void RunPass() {
        const std::uint64_t entered = fake.Gate().Entered();
        fake.Gate().Elapse(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
    }
    void StartWorker(LogService& log) {
        const std::uint64_t entered = fake.Gate().Entered();
        log.EnableRetention(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
    }
    std::size_t Passes() const { return fake.CallsNamed("GetCurTime").size(); }

    ScratchDir dir;
    ChunkHookPlatform fake;
    platform::ScopedPlatform scope;
};

TEST_F(LogRetentionTest, RecordsStrictlyOlderThanTheCutoffAreDeleted) {
    LogService service;
    OpenWithRecords(service, {kCutoff - 1, kCutoff, kNow - 59 * 60000LL, kNow});
    EXPECT_EQ(service.GetRetentionTime(), 60u);
    service.EnableRetention(0);  // nothing running: returns at once
    StartWorker(service);
    service.EnableRetention(1);
    EXPECT_EQ(Passes(), 0u);  // the first pass waits a minute
    EXPECT_EQ(fake.CallsNamed("WaitForMultipleObjects").back().args[2], 60000u);
    RunPass();
    EXPECT_EQ(Times(service), (Ms{kCutoff, kNow - 59 * 60000LL, kNow}));
    // The retention is read at each pass; 0 keeps only what is not older than now.
    service.SetRetentionTime(0);
    fake.SetTime(kNow + 1);
    RunPass();
    service.EnableRetention(0);
    EXPECT_EQ(Times(service), Ms{});
    EXPECT_EQ(Passes(), 2u);  // one worker, two passes
}

TEST_F(LogRetentionTest, WorkerStartedBeforeOpenAndStoppedDuringItsWait) {
    {
        LogService writer;
        OpenWithRecords(writer, {kNow - 2 * kHour, kNow});
    }
    LogService service;
    StartWorker(service);
    RunPass();
    EXPECT_EQ(Passes(), 1u);  // the pass ran and failed quietly
    ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
    EXPECT_EQ(Times(service), (Ms{kNow - 2 * kHour, kNow}));
    RunPass();
    service.EnableRetention(0);  // during the wait: no further pass
    EXPECT_EQ(Times(service), Ms{kNow});
    EXPECT_EQ(Passes(), 2u);
    // Destroying a service whose worker runs stops the worker first.
    auto other = std::make_unique<LogService>();
    StartWorker(*other);
    other.reset();
    EXPECT_EQ(Passes(), 2u);
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
        EXPECT_EQ(service.GetRetentionBatchSize(), batch);
        StartWorker(service);
        RunPass();
        service.EnableRetention(0);
        EXPECT_EQ(Times(service), (Ms{kCutoff, kCutoff + 1, kNow})) << batch;
    }
    EXPECT_EQ(Passes(), 3u);  // one cutoff per pass
}

// Between two chunks the pass steps aside: a caller that waits for the lock then runs before
// the next chunk. A stop request ends the pass there, and the worker with it.
TEST_F(LogRetentionTest, ChunkedPassLetsWaitingCallersInAndEndsOnAStopRequest) {
    Ms times = {kNow};
    for (int i = 1; i <= 10; ++i) times.push_back(kCutoff - i);
    LogService service;
    OpenWithRecords(service, times);
    // Each insert notes how many expired records are left at that moment.
    RawDb(dir.Utf8Path("log.db"))
        .Exec(
            "create table Seen(expired INT); create trigger Note after insert on Ovra_Log begin "
            "insert into Seen select count(*) from Ovra_Log where Time < " +
            std::to_string(kCutoff) + "; end;");
    service.SetRetentionBatchSize(3);
    service.SetRetentionMaxBytes(1);  // would delete everything, were the pass not stopped
    StartWorker(service);
    std::thread caller;
    std::promise<void> stopRequested;
    fake.onZeroWait = [&] {  // on the worker, after the first chunk
        Cs& lock = LogServiceTestAccess::Lock(service);
        lock.Lock();
        caller = std::thread([&] { service.Insert(kNow, {{L"Level", T(2)}}); });
        while (LogServiceTestAccess::Waiting(service) == 0) std::this_thread::yield();
        lock.Unlock();
        fake.onZeroWait = [&] {          // after the second chunk
            service.EnableRetention(0);  // from the worker itself only a request
            stopRequested.set_value();
        };
    };
    fake.Gate().Elapse(1);
    stopRequested.get_future().wait();
    service.EnableRetention(0);
    caller.join();
    EXPECT_EQ(RawDb(dir.Utf8Path("log.db")).Scalar("select group_concat(expired) from Seen"), "7");
    EXPECT_EQ(Times(service), (Ms{kCutoff - 4, kCutoff - 3, kCutoff - 2, kCutoff - 1, kNow, kNow}));
    EXPECT_EQ(Passes(), 1u);
}

// The bound removes the oldest records until the pages in use fit; ReclaimSpace then hands the
// freed pages back, by VACUUM or, on an incremental auto-vacuum file, by incremental_vacuum.
TEST_F(LogRetentionTest, SizeBoundKeepsTheNewestRecordsAndReclaimShrinksTheFile) {
    for (const std::string name : {"plain.db", "incremental.db"}) {
        if (name == "incremental.db") RawDb(dir.Utf8Path(name)).Exec("PRAGMA auto_vacuum=2");
        LogService service;
        ASSERT_EQ(service.Open(dir.WidePath(name)), 0);
        ASSERT_EQ(service.Create({{L"Msg", T::Text}}), 0);
        ASSERT_EQ(service.CreateIndex({{L"Msg", T::Text}}), 0);
        std::list<LogService::Record> records;
        for (int i = 0; i < 2000; ++i) {
            records.push_back({kNow - i, {{L"Msg", T(std::wstring(300, L'a' + i % 26))}}});
        }
        ASSERT_EQ(service.Insert(records), 0);
        const auto usedBytes = [&] {
            return std::stoull(RawDb(dir.Utf8Path(name))
                                   .Scalar("select (page_count - freelist_count) * page_size from "
                                           "pragma_page_count, pragma_freelist_count, "
                                           "pragma_page_size"));
        };
        const unsigned long long bound = usedBytes() / 3;
        service.SetRetentionMaxBytes(bound);
        service.SetRetentionBatchSize(50);
        StartWorker(service);
        RunPass();
        service.EnableRetention(0);
        EXPECT_LE(usedBytes(), bound);
        const Ms left = Times(service);
        ASSERT_GT(left.size(), 400u);
        ASSERT_LT(left.size(), 700u);
        EXPECT_EQ(left.front(), kNow - static_cast<long long>(left.size()) + 1);  // the newest
        EXPECT_GE(std::filesystem::file_size(dir.Path(name)), 3 * bound);
        ASSERT_EQ(service.ReclaimSpace(), 0);
        EXPECT_LE(std::filesystem::file_size(dir.Path(name)), bound + 4096) << name;
        EXPECT_EQ(Times(service), left);
    }
    EXPECT_EQ(LogService().ReclaimSpace(), 1);
}

}  // namespace
}  // namespace Ovra
