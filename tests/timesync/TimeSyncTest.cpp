// The time-sync service over a scripted libntp, the test clock and the wait gate: every finite wait
// of the worker blocks until the test lets it time out.
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/fakes/timesync/TimeObserver.h"

#include <climits>
#include <cwchar>
#include <future>
#include <list>
#include <thread>

namespace Ovra {
namespace {

using fakes::NtpLibraryPath;
using Notifications = std::vector<std::tuple<int, long long, std::wstring>>;
using Names = std::vector<std::wstring>;
using Timeouts = std::vector<std::uint64_t>;
using Times = std::vector<long long>;
const std::uint64_t H = 3600000, P = 10000;  // the default period and the pause
const long long kT = 1700000123456LL;
const int kU = fakes::ScriptedNtp::kUnscripted;

using Observer = fakes::TimeObserver;

struct ProbeService : TimeSyncService {
    ~ProbeService() override { StopThread(kInfinite, 1); }
    using TimeSyncService::GetNetworkTime;
    using TimeSyncService::SetSystemTime;
};

struct ClockFake : fakes::FakePlatform {
    std::function<void()> beforeClockSet;
    int SetCurTime(long long time) override {
        if (beforeClockSet) beforeClockSet();
        return FakePlatform::SetCurTime(time);
    }
};

struct Rig {
    Rig() {
        Ntp().Reset();
        fake.AddModule(NtpLibraryPath(), fakes::ScriptedNtp::Module());
        fake.EnableWaitGate(true);
        service.SetObserver(&observer);
    }
    static fakes::ScriptedNtp& Ntp() { return fakes::ScriptedNtp::Instance(); }
    // The time-outs of the worker's waits on its handle pairs, in order.
    Timeouts WaitTimeouts() const {
        Timeouts timeouts;
        for (const fakes::Call& call : fake.CallsNamed("WaitForMultipleObjects"))
            if (call.args[0] == 2) timeouts.push_back(call.args[2]);
        return timeouts;
    }

    ClockFake fake;
    platform::ScopedPlatform scope{fake};
    Observer observer;
    ProbeService service;
};

class TimeSyncTest : public ::testing::Test, protected Rig {};

TEST_F(TimeSyncTest, LifecycleCodesAndTheLibraryHeldOnce) {
    fake.FailCall("LoadLibraryW", 1, platform::kErrorModNotFound);
    EXPECT_EQ(105, service.Create());
    long long time = 5;
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));  // no library
    EXPECT_EQ(122, service.Start());
    EXPECT_EQ(0, service.Create());
    Ntp().Script(L"a", 0, 42);
    fake.FailCall("GetProcAddress", 2, platform::kErrorProcNotFound);
    EXPECT_EQ(0, service.GetNetworkTime(L"a", time));
    EXPECT_EQ(1, service.GetNetworkTime(L"a", time));  // looked up for every query
    EXPECT_EQ(42, time);
    EXPECT_EQ(116, service.Create());
    EXPECT_EQ(0, service.Start());
    EXPECT_EQ(120, service.Start());
    service.Stop();
    EXPECT_EQ(0, service.Start());
    service.Destroy();
    EXPECT_EQ(122, service.Start());
    {
        TimeSyncService running;  // the destructor stops the worker and frees the library
        ASSERT_EQ(0, running.Create());
        ASSERT_EQ(0, running.Start());
    }
    EXPECT_EQ(NtpLibraryPath(), fake.CallsNamed("LoadLibraryW").at(0).text);
    EXPECT_EQ((std::vector<int>{2, 2}), (std::vector<int>{fake.LoadCount(NtpLibraryPath()),
                                                          fake.FreeCount(NtpLibraryPath())}));
}

TEST_F(TimeSyncTest, CopiesShareTheLibraryAndFreeItOnce) {
    ASSERT_EQ(0, service.Create());
    Ntp().Script(L"a", 0, 42);
    {
        ProbeService copy(service);
        ProbeService assigned;
        ASSERT_EQ(0, assigned.Create());
        assigned = service;  // drops its own library
        service.Destroy();
        EXPECT_EQ(116, copy.Create());
        ASSERT_EQ(0, copy.Start());  // a worker of its own, telling the same observer
        copy.SyncTimeServerNow(L"a");
        ASSERT_TRUE(observer.AwaitCalls(2));
        assigned.Destroy();
        EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));  // `copy` still holds the shared one
    }
    EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));
    EXPECT_EQ((Times{42}), fake.ClockSets());
}

TEST_F(TimeSyncTest, ClockAndZoneSettersReportTheirOutcome) {
    observer.onCall = [](TimeSyncService* svc, int code, long long& time) {
        if (time == 5000) time = 7777;
        if (code == 0) svc->SetObserver(nullptr);  // inside its own call: nothing to wait for
    };
    fake.FailCall("SetCurTime", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(105, service.SetSystemTime(4000, L"srv"));
    EXPECT_EQ(0, service.SetSystemTime(5000));
    EXPECT_EQ(0, service.SetSystemTime(6000));
    EXPECT_EQ((Notifications{
                  {1901, 4000, L"srv"}, {105, 4000, L"srv"}, {1901, 5000, L""}, {0, 7777, L""}}),
              observer.Calls());
    EXPECT_EQ((Times{7777, 6000}), fake.ClockSets());
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_EQ(0, service.SetSystemTimeZone(zone));
    fake.FailCall("SetTimeZone", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(105, service.SetSystemTimeZone(zone));
    EXPECT_EQ((Names{L"Europe/Berlin"}), fake.ZoneSets());
}

// SetObserver from another thread during the 1901 call waits for that call only, and the result
// call goes to the new observer. What the old observer did in its call is ordered before
// SetObserver returns (ThreadSanitizer checks the plain int).
TEST_F(TimeSyncTest, ObserverReplacedDuringTheSequenceMissesTheResultCall) {
    Observer second;
    int doneInCall = 0;
    std::promise<void> replaced;
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
    fake.beforeClockSet = [&] { replaced.get_future().wait(); };
    EXPECT_EQ(0, service.SetSystemTime(5000));
    replacer.join();
    EXPECT_EQ((Notifications{{1901, 5000, L""}}), observer.Calls());
    EXPECT_EQ((Notifications{{0, 5000, L""}}), second.Calls());
}

// Servers are letters: A fails with 5 (storing 111), B fails with 6, C answers kT, E answers with
// no time, F fails with 3 and its observer call leaves 9999; others are unscripted. The worker
// runs through `steps`, each ending in one more gated wait: 'e' lets a wait time out, 'p' requests
// a pass over the `schedule` servers, a letter requests one attempt at that server.
void RunWorker(const char* name, const char* schedule, const char* queued, const char* steps,
               const char* queries, const char* waits /* H an hour, P a pause */, int enabled,
               const Times& clock, const Notifications& calls) {
    SCOPED_TRACE(name);
    Rig r;
    for (const auto& [server, code, time] :
         {std::make_tuple(L"A", 5, 111LL), std::make_tuple(L"B", 6, 0LL),
          std::make_tuple(L"C", 0, kT), std::make_tuple(L"E", 0, 0LL),
          std::make_tuple(L"F", 3, 0LL)})
        Rig::Ntp().Script(server, code, time);
    r.observer.onCall = [](TimeSyncService*, int code, long long& time) {
        if (code == 3) time = 9999;
    };
    const auto letters = [](const char* s) {
        Names names;
        for (; *s; ++s) names.emplace_back(1, static_cast<wchar_t>(*s));
        return names;
    };
    const Names servers = letters(schedule);
    r.service.SetScheduleTimeServer({servers.begin(), servers.end()});
    r.service.EnableScheduleSync(enabled);
    for (const std::wstring& server : letters(queued)) r.service.SyncTimeServerNow(server);
    r.fake.FailCall("WaitForMultipleObjects", 1, platform::kErrorInvalidHandle);  // retried
    ASSERT_EQ(0, r.service.Create());
    ASSERT_EQ(0, r.service.Start());
    ASSERT_TRUE(r.fake.Gate().AwaitEntered(1));
    EXPECT_TRUE(Rig::Ntp().Queries().empty());  // queued requests wait for a wake-up
    for (const char* s = steps; *s; ++s) {
        if (*s == 'e') r.fake.Gate().Elapse(1);
        if (*s != 'e') r.service.SyncTimeServerNow(*s == 'p' ? L"" : std::wstring(1, *s));
        ASSERT_TRUE(r.fake.Gate().AwaitEntered(2 + static_cast<std::uint64_t>(s - steps)));
    }
    Timeouts expected;
    for (const char* w = waits; *w; ++w) expected.push_back(*w == 'H' ? H : P);
    EXPECT_EQ(expected, r.WaitTimeouts());
    EXPECT_EQ(letters(queries), Rig::Ntp().Queries());
    EXPECT_EQ(clock, r.fake.ClockSets());
    EXPECT_EQ(calls, r.observer.Calls());
}

TEST(TimeSyncWorkerTest, ServesRequestsAndTheSchedule) {
    RunWorker("a pass pauses after each failure and sets the clock from the first answer", "ABCC",
              "", "eee", "ABC", "HHPPH", 1, {kT},
              {{5, 0, L"A"}, {6, 0, L"B"}, {1901, kT, L"C"}, {0, kT, L"C"}});
    RunWorker("a failing pass pauses after the last server", "AEB", "", "peee", "AEB", "HHPPPHH", 0,
              {}, {{5, 0, L"A"}, {6, 0, L"B"}});
    RunWorker("requests are served oldest first; one at a server is one attempt", "C", "XY", "ZC",
              "XYZC", "HHHHHHHH", 0, {kT},
              {{kU, 0, L"X"}, {kU, 0, L"Y"}, {kU, 0, L"Z"}, {1901, kT, L"C"}, {0, kT, L"C"}});
    RunWorker("the period passes with scheduling off; stop ends a pause", "AB", "", "ep", "A",
              "HHHP", 0, {}, {{5, 0, L"A"}});
    RunWorker("a time left by a failure call counts as obtained", "FC", "", "p", "F", "HHHH", 0,
              {9999}, {{3, 0, L"F"}, {1901, 9999, L"F"}, {0, 9999, L"F"}});
}

TEST_F(TimeSyncTest, ObserverMayStopTheServiceFromTheWorker) {
    std::promise<void> asked;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        svc->Stop();  // cannot wait for itself: only asks
        asked.set_value();
    };
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(0, service.Start());
    service.SyncTimeServerNow();
    asked.get_future().wait();
    service.Stop();  // the pause saw the request
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ(0, service.Start());
}

TEST_F(TimeSyncTest, SchedulePeriodsBelowTenMinutesAreIgnoredAndLongOnesDoNotOverflow) {
    std::list<std::wstring> servers;
    service.GetScheduleTimeServer(servers);
    EXPECT_EQ(std::list<std::wstring>{L"pool.ntp.org"}, servers);  // the default
    for (const long long minutes : {10LL, 9LL, -5LL}) service.SetScheduleTime(minutes);
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(0, service.Start());
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    service.SetScheduleTime(LLONG_MAX);  // from the next wait
    service.SyncTimeServerNow(L"x");
    service.SyncTimeServerNow(L"y");  // served after a wait with the new period
    ASSERT_TRUE(observer.AwaitCalls(2));
    const Timeouts timeouts = WaitTimeouts();
    EXPECT_EQ((Timeouts{600000u, 0xFFFFFFFFu}), Timeouts(timeouts.begin(), timeouts.begin() + 2));
}

}  // namespace
}  // namespace Ovra
