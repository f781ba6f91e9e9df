// Life cycle, library ownership, configuration, and the clock and zone setters.
#include "tests/timesync/TimeSyncFixture.h"

#include <chrono>
#include <climits>
#include <cwchar>
#include <future>
#include <list>
#include <thread>

namespace Ovra {
namespace testing_timesync {
namespace {

TEST_F(TimeSyncTest, LifecycleLoadsTheLibraryOnceAndFreesIt) {
    fake.FailCall("LoadLibraryW", 1, platform::kErrorModNotFound);
    EXPECT_EQ(105, service.Create());  // nothing is kept from the failed attempt
    EXPECT_EQ(122, service.Start());
    EXPECT_EQ(0, service.Create());
    EXPECT_EQ(116, service.Create());
    EXPECT_EQ(0, service.Start());
    EXPECT_EQ(120, service.Start());
    service.Stop();
    EXPECT_EQ(0, service.Start());  // still created: a stopped service starts again
    service.Destroy();
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ(122, service.Start());
    service.Destroy();
    EXPECT_EQ(0, service.Create());
    {
        TimeSyncService running;  // the destructor stops the worker and frees the library
        ASSERT_EQ(0, running.Create());
        ASSERT_EQ(0, running.Start());
    }
    EXPECT_EQ(NtpLibraryPath(), fake.CallsNamed("LoadLibraryW").at(0).text);
    EXPECT_EQ(3, fake.LoadCount(NtpLibraryPath()));
    EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));  // `service` still holds one
}

TEST_F(TimeSyncTest, LibraryWithoutTheExportFailsQueriesWithCode1) {
    long long time = 5;
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));  // not created: no library
    ASSERT_EQ(0, service.Create());
    Ntp().Script(L"a", 0, 42);
    fake.FailCall("GetProcAddress", 2, platform::kErrorProcNotFound);
    EXPECT_EQ(0, service.GetNetworkTime(L"a", time));
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));  // looked up anew for every query
    EXPECT_EQ(42, time);
    fake.FailAlways("GetProcAddress", platform::kErrorProcNotFound);
    ASSERT_EQ(0, service.Start());
    service.SyncTimeServerNow(L"b");
    ASSERT_TRUE(observer.AwaitCalls(1));
    EXPECT_EQ((Notifications{{1, 0, L"b"}}), observer.Calls());
}

TEST_F(TimeSyncTest, CopiesShareTheLibraryAndFreeItOnce) {
    ASSERT_EQ(0, service.Create());
    service.SetScheduleTimeServer({L"x", L"y"});
    Ntp().Script(L"a", 0, 42);
    {
        ProbeService copy(service);
        ProbeService assigned;
        ASSERT_EQ(0, assigned.Create());
        assigned = service;  // drops its own library
        service.Destroy();
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));  // the copies still hold the shared one
        std::list<std::wstring> servers;
        assigned.GetScheduleTimeServer(servers);
        EXPECT_EQ((std::list<std::wstring>{L"x", L"y"}), servers);
        EXPECT_EQ(116, copy.Create());
        // A copy runs a worker of its own on the shared library, and tells the same observer.
        ASSERT_EQ(0, copy.Start());
        copy.SyncTimeServerNow(L"a");
        ASSERT_TRUE(observer.AwaitCalls(2));
        assigned.Destroy();
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));
    }
    EXPECT_EQ(2, fake.LoadCount(NtpLibraryPath()));
    EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));
    EXPECT_EQ((Times{42}), fake.ClockSets());
}

TEST_F(TimeSyncTest, SetSystemTimeReportsAroundTheClockChange) {
    service.SetObserver(nullptr);
    EXPECT_EQ(0, service.SetSystemTime(1000));
    fake.FailCall("SetCurTime", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(105, service.SetSystemTime(2000));
    service.SetObserver(&observer);
    EXPECT_EQ(0, service.SetSystemTime(3000));
    fake.FailCall("SetCurTime", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(105, service.SetSystemTime(4000, L"srv"));
    EXPECT_EQ((Notifications{
                  {1901, 3000, L""}, {0, 3000, L""}, {1901, 4000, L"srv"}, {105, 4000, L"srv"}}),
              observer.Calls());
    EXPECT_EQ((Times{1000, 3000}), fake.ClockSets());
}

TEST_F(TimeSyncTest, ObserverDecidesTheTimeAndMayLeaveFromItsOwnCall) {
    observer.onCall = [](TimeSyncService* svc, int, long long& time) {
        time = 7777;
        svc->SetObserver(nullptr);  // inside its own call: nothing to wait for
    };
    EXPECT_EQ(0, service.SetSystemTime(5000));
    EXPECT_EQ((Times{7777}), fake.ClockSets());
    EXPECT_EQ(1u, observer.Calls().size());  // gone before the result call
}

// Observers are called with no lock held. SetObserver from another thread during the 1901 call
// waits for that call only, and the result call goes to the new observer. What the old observer
// did in its call is ordered before SetObserver returns (ThreadSanitizer checks the plain int).
TEST_F(TimeSyncTest, ObserverReplacedDuringTheSequenceMissesTheResultCall) {
    RecordingObserver second;
    int doneInCall = 0;
    std::promise<void> replaced;
    std::future<void> replacedFuture = replaced.get_future();
    std::thread replacer;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        replacer = std::thread([&, svc] {
            svc->SetObserver(&second);
            EXPECT_EQ(1, doneInCall);
            replaced.set_value();
        });
        doneInCall = 1;
    };
    // Between its two calls the sequence waits for SetObserver to return: no lock may span them.
    fake.beforeClockSet = [&] {
        EXPECT_EQ(std::future_status::ready, replacedFuture.wait_for(std::chrono::seconds(10)));
    };
    EXPECT_EQ(0, service.SetSystemTime(5000));
    replacer.join();
    EXPECT_EQ((Notifications{{1901, 5000, L""}}), observer.Calls());
    EXPECT_EQ((Notifications{{0, 5000, L""}}), second.Calls());
}

TEST_F(TimeSyncTest, SetSystemTimeZoneHandsTheZoneOn) {
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_EQ(0, service.SetSystemTimeZone(zone));
    fake.FailCall("SetTimeZone", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(105, service.SetSystemTimeZone(zone));
    EXPECT_EQ((Names{L"Europe/Berlin"}), fake.ZoneSets());
}

TEST_F(TimeSyncTest, SchedulePeriodBelowTenMinutesIsIgnored) {
    service.SetScheduleTime(10);
    service.SetScheduleTime(9);
    service.SetScheduleTime(-5);
    StartService();
    service.SetScheduleTime(720);  // applies from the next wait
    ElapseUntilWait(2);
    service.SetScheduleTime(LLONG_MAX);  // too long to count: the wait has no limit
    service.SyncTimeServerNow(L"x");     // served from the 720-minute wait
    ASSERT_TRUE(Ntp().AwaitQueries(1));
    service.SyncTimeServerNow(L"y");  // served after the unlimited wait
    ASSERT_TRUE(Ntp().AwaitQueries(2));
    const Timeouts timeouts = WaitTimeouts();
    ASSERT_LE(3u, timeouts.size());
    EXPECT_EQ((Timeouts{600000u, 43200000u, 0xFFFFFFFFu}),
              Timeouts(timeouts.begin(), timeouts.begin() + 3));
}

}  // namespace
}  // namespace testing_timesync
}  // namespace Ovra
