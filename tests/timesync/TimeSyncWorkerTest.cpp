// The worker: wake-ups, passes over the servers, pauses, stops and the observer while it runs.
#include "TimeSyncFixture.h"

#include <atomic>
#include <future>
#include <thread>

namespace Ovra {
namespace testing_timesync {
namespace {

using Names = std::vector<std::wstring>;
using Timeouts = std::vector<std::uint64_t>;

const long long kT = 1700000123456LL;

void ExpectCall(const Notification& call, int code, long long time, const std::wstring& server) {
    EXPECT_EQ(code, call.code);
    EXPECT_EQ(time, call.time);
    EXPECT_EQ(server, call.server);
    EXPECT_NE(std::this_thread::get_id(), call.thread);  // on the worker
}

TEST_F(TimeSyncTest, QueuedRequestsAreServedOldestFirstEachByItsOwnWakeUp) {
    service.SetObserver(&observer);
    ASSERT_EQ(0, service.Create());
    service.SyncTimeServerNow(L"a");  // queued before the start: kept
    service.SyncTimeServerNow(L"b");
    ASSERT_EQ(0, service.Start());
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    EXPECT_TRUE(Ntp().Queries().empty());  // waits for the next request to be woken
    fake.ClearCalls();
    service.SyncTimeServerNow(L"c");
    ASSERT_TRUE(Ntp().AwaitQueries(3));
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    EXPECT_EQ((Names{L"a", L"b", L"c"}), Ntp().Queries());
    // One wake-up each for b and c, one that finds the queue empty and resets the event, then
    // the schedule wait.
    EXPECT_EQ((Timeouts{kHour, kHour, kHour, kHour}), WaitTimeouts());
    EXPECT_EQ(1u, fake.CallsNamed("ResetEvent").size());
    // Unscripted servers fail: the client's code reaches the observer unchanged.
    const std::vector<Notification> calls = observer.Calls();
    ASSERT_EQ(3u, calls.size());
    ExpectCall(calls[0], ScriptedNtp::kUnscripted, 0, L"a");
    ExpectCall(calls[2], ScriptedNtp::kUnscripted, 0, L"c");
}

TEST_F(TimeSyncTest, PassPausesAfterEachFailureAndSetsTheClockFromTheFirstAnswer) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 6, 0);
    Ntp().Script(L"s3", 0, kT);
    Ntp().Script(L"s4", 0, kT + 1);
    service.SetScheduleTimeServer({L"s1", L"s2", L"s3", L"s4"});
    service.EnableScheduleSync(1);
    service.SetObserver(&observer);
    StartService();
    ElapseUntilWait(2);  // the period passes; s1 fails
    EXPECT_EQ((std::vector<int>{5}), observer.Codes());
    ElapseUntilWait(3);  // s2 fails
    ElapseUntilWait(4);  // s3 answers; back in the schedule wait
    const std::vector<Notification> calls = observer.Calls();
    ASSERT_EQ(4u, calls.size());
    ExpectCall(calls[0], 5, 0, L"s1");
    ExpectCall(calls[1], 6, 0, L"s2");
    ExpectCall(calls[2], 1901, kT, L"s3");
    ExpectCall(calls[3], 0, kT, L"s3");
    EXPECT_EQ((std::vector<long long>{kT}), fake.ClockSets());
    EXPECT_EQ((Names{L"s1", L"s2", L"s3"}), Ntp().Queries());
    EXPECT_EQ((Timeouts{kHour, kPause, kPause, kHour}), WaitTimeouts());
}

TEST_F(TimeSyncTest, PassWhereEveryServerFailsPausesAfterTheLastAndLeavesTheClock) {
    Ntp().Script(L"s1", 5, 111);  // what a failing query stores is ignored
    Ntp().Script(L"s2", 0, 0);    // an answer without a time is neither used nor reported
    Ntp().Script(L"s3", 7, 0);
    service.SetScheduleTimeServer({L"s1", L"s2", L"s3"});
    service.SetObserver(&observer);
    StartService();
    service.SyncTimeServerNow();  // a pass, although scheduling is off
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    ElapseUntilWait(3);
    ElapseUntilWait(4);  // the pause after the last server
    ElapseUntilWait(5);
    const std::vector<Notification> calls = observer.Calls();
    ASSERT_EQ(2u, calls.size());
    ExpectCall(calls[0], 5, 0, L"s1");
    ExpectCall(calls[1], 7, 0, L"s3");
    EXPECT_TRUE(fake.ClockSets().empty());
    EXPECT_EQ((Timeouts{kHour, kPause, kPause, kPause, kHour, kHour}), WaitTimeouts());
}

TEST_F(TimeSyncTest, StopDuringAPauseEndsThePassAtOnce) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 0, kT);
    service.SetScheduleTimeServer({L"s1", L"s2"});
    service.EnableScheduleSync(1);
    StartService();
    ElapseUntilWait(2);  // in the pause after s1
    service.Stop();      // returns although the pause has not elapsed
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ((Names{L"s1"}), Ntp().Queries());
    EXPECT_TRUE(fake.ClockSets().empty());
}

TEST_F(TimeSyncTest, StopInTheScheduleWaitKeepsQueuedRequestsForTheNextStart) {
    StartService();
    service.Stop();  // returns although the wait has not elapsed
    EXPECT_FALSE(service.IsThreadRunning());
    service.SyncTimeServerNow(L"x");
    ASSERT_EQ(0, service.Start());
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    EXPECT_TRUE(Ntp().Queries().empty());
    service.SyncTimeServerNow(L"y");
    ASSERT_TRUE(Ntp().AwaitQueries(2));
    EXPECT_EQ((Names{L"x", L"y"}), Ntp().Queries());
}

TEST_F(TimeSyncTest, DisabledScheduleAndFailedWaitsDoNothing) {
    fake.FailCall("WaitForMultipleObjects", 1, platform::kErrorInvalidHandle);
    service.SetObserver(&observer);
    StartService();      // the first wait failed and was retried
    ElapseUntilWait(2);  // the period passes with scheduling off
    EXPECT_TRUE(Ntp().Queries().empty());
    EXPECT_TRUE(observer.Calls().empty());
    EXPECT_EQ((Timeouts{kHour, kHour, kHour}), WaitTimeouts());

    service.EnableScheduleSync(1);  // takes effect at the next wake-up
    ElapseUntilWait(3);
    EXPECT_EQ((Names{L"pool.ntp.org"}), Ntp().Queries());
}

TEST_F(TimeSyncTest, NamedRequestMakesExactlyOneAttemptAtThatServer) {
    Ntp().Script(L"x", 42, 0);
    Ntp().Script(L"y", 0, kT);
    service.SetScheduleTimeServer({L"s1"});
    service.SetObserver(&observer);
    StartService();
    service.SyncTimeServerNow(L"x");
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // straight back to the schedule: no pause
    EXPECT_EQ((Names{L"x"}), Ntp().Queries());
    ASSERT_EQ(1u, observer.Calls().size());
    ExpectCall(observer.Calls()[0], 42, 0, L"x");

    service.SyncTimeServerNow(L"y");
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));
    const std::vector<Notification> calls = observer.Calls();
    ASSERT_EQ(3u, calls.size());
    ExpectCall(calls[1], 1901, kT, L"y");
    ExpectCall(calls[2], 0, kT, L"y");
    EXPECT_EQ((std::vector<long long>{kT}), fake.ClockSets());
    for (std::uint64_t timeout : WaitTimeouts())
        EXPECT_EQ(static_cast<std::uint64_t>(kHour), timeout);
}

TEST_F(TimeSyncTest, TimeLeftByAFailureCallCountsAsObtained) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 0, kT);
    service.SetScheduleTimeServer({L"s1", L"s2"});
    observer.onCall = [](TimeSyncService*, int code, long long& time) {
        if (code == 5) time = 9999;
        if (code == 1901) time += 1;
    };
    service.SetObserver(&observer);
    fake.RefuseClock(true);
    StartService();
    service.SyncTimeServerNow();
    ASSERT_TRUE(observer.AwaitCalls(3));
    const std::vector<Notification> calls = observer.Calls();
    ExpectCall(calls[0], 5, 0, L"s1");
    ExpectCall(calls[1], 1901, 9999, L"s1");
    ExpectCall(calls[2], 105, 10000, L"s1");  // the time after the 1901 call was the one tried
    EXPECT_EQ((Names{L"s1"}), Ntp().Queries());
    EXPECT_EQ((std::vector<std::uint64_t>{10000}), fake.CallsNamed("SetCurTime")[0].args);
}

TEST_F(TimeSyncTest, ObserverReplacedWhileTheWorkerIsInsideItsCall) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 6, 0);
    service.SetScheduleTimeServer({L"s1", L"s2"});
    RecordingObserver second;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> replaced{false};
    std::atomic<bool> replacedDuringCall{false};
    observer.onCall = [&](TimeSyncService*, int, long long&) {
        entered.set_value();
        released.wait();
        replacedDuringCall = replaced.load();
    };
    service.SetObserver(&observer);
    StartService();
    service.SyncTimeServerNow();
    entered.get_future().wait();
    std::thread replacer([&] {
        service.SetObserver(&second);  // waits for the call in progress
        replaced = true;
    });
    release.set_value();
    replacer.join();
    EXPECT_FALSE(replacedDuringCall);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    ElapseUntilWait(3);  // s2 fails: only the new observer hears of it
    EXPECT_EQ((std::vector<int>{5}), observer.Codes());
    EXPECT_EQ((std::vector<int>{6}), second.Codes());

    service.SetObserver(nullptr);
    service.SyncTimeServerNow(L"s1");
    fake.Gate().Elapse(1);  // ends the pass after s2
    ASSERT_TRUE(Ntp().AwaitQueries(3));
    ASSERT_TRUE(fake.Gate().AwaitEntered(4));
    EXPECT_EQ(1u, second.Calls().size());
}

TEST_F(TimeSyncTest, ObserverMayCallBackIntoTheServiceFromTheWorker) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 0, kT);
    service.SetScheduleTimeServer({L"s1", L"s2"});
    RecordingObserver second;
    observer.onCall = [&](TimeSyncService* svc, int code, long long&) {
        if (code != 5) return;
        EXPECT_EQ(0, svc->SetSystemTime(555));
        svc->SetObserver(&second);
    };
    service.SetObserver(&observer);
    StartService();
    service.SyncTimeServerNow();
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    ElapseUntilWait(3);
    const std::vector<Notification> calls = observer.Calls();
    ASSERT_EQ(3u, calls.size());
    ExpectCall(calls[0], 5, 0, L"s1");
    ExpectCall(calls[1], 1901, 555, L"");
    ExpectCall(calls[2], 0, 555, L"");
    ASSERT_EQ(2u, second.Calls().size());
    ExpectCall(second.Calls()[1], 0, kT, L"s2");
    EXPECT_EQ((std::vector<long long>{555, kT}), fake.ClockSets());
}

TEST_F(TimeSyncTest, ObserverMayStopTheServiceFromTheWorker) {
    Ntp().Script(L"s1", 5, 0);
    Ntp().Script(L"s2", 0, kT);
    service.SetScheduleTimeServer({L"s1", L"s2"});
    std::promise<void> stopped;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        svc->Stop();  // cannot wait for itself: only asks
        stopped.set_value();
    };
    service.SetObserver(&observer);
    StartService();
    service.SyncTimeServerNow();
    stopped.get_future().wait();
    service.Stop();  // waits for the end; the pause saw the stop request
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ((Names{L"s1"}), Ntp().Queries());
    EXPECT_EQ(0, service.Start());
}

}  // namespace
}  // namespace testing_timesync
}  // namespace Ovra
