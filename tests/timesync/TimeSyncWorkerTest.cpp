// The worker: wake-ups, passes over the servers, pauses and stops.
#include "tests/timesync/TimeSyncFixture.h"

#include <future>
#include <list>

namespace Ovra {
namespace testing_timesync {
namespace {

const long long kT = 1700000123456LL;

class TimeSyncWorker : public TimeSyncTest {
protected:
    // The schedule servers, each scripted with its answer code; code 0 answers kT.
    void Servers(std::vector<std::pair<std::wstring, int>> servers) {
        std::list<std::wstring> names;
        for (const auto& server : servers) {
            Ntp().Script(server.first, server.second, server.second ? 0 : kT);
            names.push_back(server.first);
        }
        service.SetScheduleTimeServer(names);
    }
};

TEST_F(TimeSyncWorker, QueuedRequestsAreServedOldestFirstEachByItsOwnWakeUp) {
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
    const int kU = ScriptedNtp::kUnscripted;
    EXPECT_EQ((Notifications{{kU, 0, L"a"}, {kU, 0, L"b"}, {kU, 0, L"c"}}), observer.Calls());
}

TEST_F(TimeSyncWorker, PassPausesAfterEachFailureAndSetsTheClockFromTheFirstAnswer) {
    Servers({{L"s1", 5}, {L"s2", 6}, {L"s3", 0}, {L"s4", 0}});
    service.EnableScheduleSync(1);
    StartService();
    ElapseUntilWait(2);  // the period passes; s1 fails
    EXPECT_EQ((Notifications{{5, 0, L"s1"}}), observer.Calls());
    ElapseUntilWait(3);  // s2 fails
    ElapseUntilWait(4);  // s3 answers; back in the schedule wait
    EXPECT_EQ((Notifications{{5, 0, L"s1"}, {6, 0, L"s2"}, {1901, kT, L"s3"}, {0, kT, L"s3"}}),
              observer.Calls());
    EXPECT_EQ((Times{kT}), fake.ClockSets());
    EXPECT_EQ((Names{L"s1", L"s2", L"s3"}), Ntp().Queries());
    EXPECT_EQ((Timeouts{kHour, kPause, kPause, kHour}), WaitTimeouts());
}

TEST_F(TimeSyncWorker, PassWhereEveryServerFailsPausesAfterTheLastAndLeavesTheClock) {
    Servers({{L"s1", 5}, {L"s2", 0}, {L"s3", 7}});
    Ntp().Script(L"s1", 5, 111);  // what a failing query stores is ignored
    Ntp().Script(L"s2", 0, 0);    // an answer without a time is neither used nor reported
    StartService();
    service.SyncTimeServerNow();  // a pass, although scheduling is off
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    ElapseUntilWait(3);
    ElapseUntilWait(4);  // the pause after the last server
    ElapseUntilWait(5);
    EXPECT_EQ((Notifications{{5, 0, L"s1"}, {7, 0, L"s3"}}), observer.Calls());
    EXPECT_TRUE(fake.ClockSets().empty());
    EXPECT_EQ((Timeouts{kHour, kPause, kPause, kPause, kHour, kHour}), WaitTimeouts());
}

TEST_F(TimeSyncWorker, StopEndsTheScheduleWaitAndAPauseAtOnce) {
    Servers({{L"s1", 5}, {L"s2", 0}});
    StartService();
    service.Stop();  // returns although the wait has not elapsed
    EXPECT_FALSE(service.IsThreadRunning());
    service.SyncTimeServerNow();  // kept for the next start
    ASSERT_EQ(0, service.Start());
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    EXPECT_TRUE(Ntp().Queries().empty());  // served at the next wake-up
    service.SyncTimeServerNow();
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));
    EXPECT_EQ(kPause, WaitTimeouts().back());  // in the pause after s1
    service.Stop();                            // returns although the pause has not elapsed
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ((Names{L"s1"}), Ntp().Queries());
    EXPECT_TRUE(fake.ClockSets().empty());
}

TEST_F(TimeSyncWorker, DisabledScheduleAndFailedWaitsDoNothing) {
    fake.FailCall("WaitForMultipleObjects", 1, platform::kErrorInvalidHandle);
    StartService();      // the first wait failed and was retried
    ElapseUntilWait(2);  // the period passes with scheduling off
    EXPECT_TRUE(Ntp().Queries().empty());
    EXPECT_TRUE(observer.Calls().empty());
    EXPECT_EQ((Timeouts{kHour, kHour, kHour}), WaitTimeouts());
    service.EnableScheduleSync(1);  // takes effect at the next wake-up
    ElapseUntilWait(3);
    EXPECT_EQ((Names{L"pool.ntp.org"}), Ntp().Queries());
}

TEST_F(TimeSyncWorker, NamedRequestMakesExactlyOneAttemptAtThatServer) {
    Servers({{L"s1", 0}});
    Ntp().Script(L"x", 42, 0);
    Ntp().Script(L"y", 0, kT);
    StartService();
    service.SyncTimeServerNow(L"x");
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // straight back to the schedule: no pause
    service.SyncTimeServerNow(L"y");
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));
    EXPECT_EQ((Names{L"x", L"y"}), Ntp().Queries());
    EXPECT_EQ((Notifications{{42, 0, L"x"}, {1901, kT, L"y"}, {0, kT, L"y"}}), observer.Calls());
    const Timeouts timeouts = WaitTimeouts();
    EXPECT_EQ(Timeouts(timeouts.size(), kHour), timeouts);  // no pause anywhere
}

TEST_F(TimeSyncWorker, TimeLeftByAFailureCallCountsAsObtained) {
    Servers({{L"s1", 5}, {L"s2", 0}});
    observer.onCall = [](TimeSyncService*, int code, long long& time) {
        if (code == 5) time = 9999;
        if (code == 1901) time += 1;
    };
    fake.FailCall("SetCurTime", 1, platform::kErrorAccessDenied);
    StartService();
    service.SyncTimeServerNow();
    ASSERT_TRUE(observer.AwaitCalls(3));
    // The time after the 1901 call was the one tried.
    EXPECT_EQ((Notifications{{5, 0, L"s1"}, {1901, 9999, L"s1"}, {105, 10000, L"s1"}}),
              observer.Calls());
    EXPECT_EQ((Names{L"s1"}), Ntp().Queries());
    EXPECT_EQ((std::vector<std::uint64_t>{10000}), fake.CallsNamed("SetCurTime")[0].args);
}

TEST_F(TimeSyncWorker, ObserverMayStopTheServiceFromTheWorker) {
    Servers({{L"s1", 5}, {L"s2", 0}});
    std::promise<void> stopped;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        svc->Stop();  // cannot wait for itself: only asks
        stopped.set_value();
    };
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
