// Life cycle, library ownership, configuration and the clock and zone setters.
#include "TimeSyncFixture.h"

#include <climits>
#include <cwchar>
#include <list>
#include <thread>

namespace Ovra {
namespace testing_timesync {
namespace {

TEST_F(TimeSyncTest, LifecycleFollowsCreateStartStopDestroy) {
    EXPECT_EQ(122, service.Start());
    EXPECT_EQ(0, service.Create());
    EXPECT_EQ(116, service.Create());
    EXPECT_EQ(0, service.Start());
    EXPECT_EQ(120, service.Start());
    EXPECT_TRUE(fake.Gate().AwaitEntered(1));
    service.Stop();
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ(0, service.Start());  // still created: a stopped service starts again
    service.Destroy();
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ(122, service.Start());
    EXPECT_EQ(0, service.Create());
    service.Destroy();
    service.Destroy();
    EXPECT_EQ(2, fake.LoadCount(NtpLibraryPath()));
    EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));
    {
        TimeSyncService running;  // the destructor stops the worker and frees the library
        ASSERT_EQ(0, running.Create());
        ASSERT_EQ(0, running.Start());
    }
    EXPECT_EQ(3, fake.FreeCount(NtpLibraryPath()));
}

TEST(TimeSyncLibraryTest, MissingLibraryFailsCreateAndStart) {
    FakePlatform empty;
    platform::ScopedPlatform scope(empty);
    TimeSyncService service;
    EXPECT_EQ(105, service.Create());
    EXPECT_EQ(122, service.Start());
    EXPECT_EQ(105, service.Create());  // nothing was kept from the failed attempt
    service.Destroy();
    EXPECT_TRUE(empty.CallsNamed("FreeLibrary").empty());
    ASSERT_EQ(2u, empty.CallsNamed("LoadLibraryW").size());
    EXPECT_EQ(NtpLibraryPath(), empty.CallsNamed("LoadLibraryW")[0].text);
}

TEST_F(TimeSyncTest, LibraryWithoutExportFailsEveryQueryWithCode1) {
    fake.AddModule(NtpLibraryPath(), FakeModule{});
    long long time = 5;
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));  // not created: no library
    ASSERT_EQ(0, service.Create());
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));
    fake.AddModule(NtpLibraryPath(), ScriptedNtp::Module());  // looked up anew for every query
    Ntp().Script(L"a", 0, 42);
    EXPECT_EQ(0, service.GetNetworkTime(L"a", time));
    EXPECT_EQ(42, time);
    fake.AddModule(NtpLibraryPath(), FakeModule{});

    service.SetObserver(&observer);
    ASSERT_EQ(0, service.Start());
    service.SyncTimeServerNow(L"b");
    ASSERT_TRUE(observer.AwaitCalls(1));
    EXPECT_EQ((Notifications{{1, 0, L"b"}}), observer.Calls());
}

TEST_F(TimeSyncTest, CopiesShareTheLibraryAndFreeItOnce) {
    ProbeService original;
    ASSERT_EQ(0, original.Create());
    original.SetScheduleTimeServer({L"x", L"y"});
    Ntp().Script(L"a", 0, 42);
    {
        ProbeService copy(original);
        ProbeService assigned;
        ASSERT_EQ(0, assigned.Create());
        assigned = original;  // drops its own library
        EXPECT_EQ(2, fake.LoadCount(NtpLibraryPath()));
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));

        original.Destroy();
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));  // the copies still hold it
        long long time = 0;
        EXPECT_EQ(1, original.GetNetworkTime(L"a", time));
        EXPECT_EQ(0, copy.GetNetworkTime(L"a", time));
        EXPECT_EQ(42, time);
        EXPECT_EQ(116, copy.Create());
        std::list<std::wstring> servers;
        assigned.GetScheduleTimeServer(servers);
        EXPECT_EQ((std::list<std::wstring>{L"x", L"y"}), servers);

        // A copy runs a worker of its own on the shared library.
        copy.SetObserver(&observer);
        ASSERT_EQ(0, copy.Start());
        copy.SyncTimeServerNow(L"a");
        ASSERT_TRUE(observer.AwaitCalls(2));
        assigned.Destroy();
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));
    }
    EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));
    EXPECT_EQ(0, fake.LoadedModuleCount());
    EXPECT_EQ((std::vector<long long>{42}), fake.ClockSets());
}

TEST_F(TimeSyncTest, SetSystemTimeReportsAroundTheClockChangeOnTheCallersThread) {
    EXPECT_EQ(0, service.SetSystemTime(1000));  // no observer
    fake.RefuseClock(true);
    EXPECT_EQ(105, service.SetSystemTime(2000));
    fake.RefuseClock(false);
    service.SetObserver(&observer);
    EXPECT_EQ(0, service.SetSystemTime(3000));
    fake.RefuseClock(true);
    EXPECT_EQ(105, service.SetSystemTime(4000, L"srv"));
    EXPECT_EQ((Notifications{
                  {1901, 3000, L""}, {0, 3000, L""}, {1901, 4000, L"srv"}, {105, 4000, L"srv"}}),
              observer.Calls());
    EXPECT_EQ(observer.Threads(), std::vector<std::thread::id>(4, std::this_thread::get_id()));
    EXPECT_EQ((std::vector<long long>{1000, 3000}), fake.ClockSets());
}

TEST_F(TimeSyncTest, ObserverDecidesTheTimeAndMayLeaveDuringTheSequence) {
    observer.onCall = [this](TimeSyncService* svc, int code, long long& time) {
        if (code != 1901) return;
        time = 7777;
        svc->SetObserver(nullptr);  // on its own thread, inside its call
    };
    service.SetObserver(&observer);
    EXPECT_EQ(0, service.SetSystemTime(5000));
    EXPECT_EQ((std::vector<long long>{7777}), fake.ClockSets());
    EXPECT_EQ((std::vector<int>{1901}), observer.Codes());  // gone before the 0 call
}

TEST_F(TimeSyncTest, SetSystemTimeZoneHandsTheZoneOn) {
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_EQ(0, service.SetSystemTimeZone(zone));
    fake.RefuseClock(true);
    EXPECT_EQ(105, service.SetSystemTimeZone(zone));
    EXPECT_EQ((std::vector<std::wstring>{L"Europe/Berlin"}), fake.ZoneSets());
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
