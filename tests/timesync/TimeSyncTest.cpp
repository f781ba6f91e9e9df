// The time-sync service over a scripted libntp, the test clock and the wait gate: every finite wait
// of the worker blocks until the test lets it time out.
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>

#include "tests/fakes/timesync/ScriptedNtp.h"

#include <climits>
#include <future>

namespace Ovra {
namespace {

using fakes::NtpLibraryPath;
using Observer = fakes::TimeObserver;
using Calls = std::vector<Observer::Entry>;
using Codes = std::vector<int>;
using Names = std::vector<std::wstring>;
using Times = std::vector<long long>;
const long long kT = 1700000123456LL;

struct ProbeService : TimeSyncService {
    ~ProbeService() override { StopThread(kInfinite, 1); }
    using TimeSyncService::GetNetworkTime;
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
    std::vector<std::uint64_t> WaitTimeouts() const {
        std::vector<std::uint64_t> timeouts;
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

TEST_F(TimeSyncTest, LifecycleCodesAndTheLibraryHeldOnceAlsoByCopies) {
    fake.FailCall("LoadLibraryW", 1, platform::kErrorModNotFound);
    fake.FailCall("GetProcAddress", 2, platform::kErrorProcNotFound);  // looked up for every query
    Ntp().Script(L"a", 0, 42);
    long long time = 5;
    const auto query = [&] { return service.GetNetworkTime(L"a", time); };
    // In this order: not created (no library), created, worker states, then restarts after Stop
    // and after Destroy.
    EXPECT_EQ((Codes{105, 1, 122, 0, 0, 1, 116, 0, 120, 0, 0, 122}),
              (Codes{service.Create(), query(), service.Start(), service.Create(), query(), query(),
                     service.Create(), service.Start(), service.Start(),
                     (service.Stop(), service.Start()),
                     (service.Destroy(), service.IsThreadRunning()), service.Start()}));
    EXPECT_EQ(1, fake.FreeCount(NtpLibraryPath()));
    // Copies share the library and free it once; they take the schedule along.
    ASSERT_EQ(0, service.Create());
    service.operator=(service);  // keeps it created, with its library
    service.SetScheduleTimeServer({L"a"});
    {
        // Plain services: their own destructors stop their workers and free the library.
        TimeSyncService copy(service), assigned;
        ASSERT_EQ(0, assigned.Create());
        assigned = service;  // drops its own library
        service.Destroy();
        EXPECT_EQ(116, copy.Create());
        ASSERT_EQ(0, copy.Start());  // a worker of its own, telling the same observer
        copy.SyncTimeServerNow();
        ASSERT_TRUE(observer.AwaitCalls(2));
        assigned.Destroy();
        EXPECT_EQ(2, fake.FreeCount(NtpLibraryPath()));  // `copy` still holds the shared one
    }
    EXPECT_EQ(0, fake.LoadedModuleCount());
    EXPECT_EQ((Times{42}), fake.ClockSets());
}

TEST_F(TimeSyncTest, ClockAndZoneSettersReportTheirOutcome) {
    observer.onCall = [](TimeSyncService* svc, int code, long long& time) {
        if (time == 5000) time = 7777;
        if (code == 0) svc->SetObserver(nullptr);  // inside its own call: nothing to wait for
    };
    fake.FailCall("SetCurTime", 1, platform::kErrorAccessDenied);
    fake.FailCall("SetTimeZone", 2, platform::kErrorAccessDenied);
    const TimeZone zone{0, {}, {}, 0, {}, {}, 0, L"Europe/Berlin", 0};
    EXPECT_EQ((Codes{105, 0, 0, 0, 105}),
              (Codes{service.SetSystemTime(4000), service.SetSystemTime(5000),
                     service.SetSystemTime(6000), service.SetSystemTimeZone(zone),
                     service.SetSystemTimeZone(zone)}));
    EXPECT_EQ((Calls{{1901, 4000, L""}, {105, 4000, L""}, {1901, 5000, L""}, {0, 7777, L""}}),
              observer.Calls());
    EXPECT_EQ((Times{7777, 6000}), fake.ClockSets());
    EXPECT_EQ((Names{L"Europe/Berlin"}), fake.ZoneSets());
}

// SetObserver from another thread during the 1901 call waits for that call only, and the result
// call goes to the new observer. What the old observer did in its call is ordered before
// SetObserver returns (ThreadSanitizer checks the plain int).
TEST_F(TimeSyncTest, ObserverReplacedDuringTheSequenceMissesTheResultCall) {
    Observer second;
    int doneInCall = 0;
    std::future<void> replacer;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        replacer = std::async(std::launch::async, [&, svc] {
            svc->SetObserver(&second);
            EXPECT_EQ(1, doneInCall);
        });
        doneInCall = 1;
    };
    // Between its two calls the sequence waits for SetObserver to return: no lock may span them.
    fake.beforeClockSet = [&] { replacer.wait(); };
    EXPECT_EQ(0, service.SetSystemTime(5000));
    EXPECT_EQ((Calls{{1901, 5000, L""}}), observer.Calls());
    EXPECT_EQ((Calls{{0, 5000, L""}}), second.Calls());
}

// Servers are letters: A fails with 5 (storing 111), B fails with 6, C answers kT, E answers with
// no time, F fails with 3 and its observer call leaves 9999; others are unscripted (99). The worker
// runs through `steps`, each ending in one more gated wait: 'e' lets a wait time out, 'p' requests
// a pass over the `schedule` servers, a letter requests one attempt at that server.
void RunWorker(const char* name, const char* schedule, const char* queued, const char* steps,
               const char* queries, const char* waits /* H an hour, P a pause */, int enabled,
               const Times& clock, const Calls& calls) {
    SCOPED_TRACE(name);
    Rig r;
    const std::tuple<const wchar_t*, int, long long> scripts[] = {
        {L"A", 5, 111}, {L"B", 6, 0}, {L"C", 0, kT}, {L"E", 0, 0}, {L"F", 3, 0}};
    for (const auto& [server, code, time] : scripts) Rig::Ntp().Script(server, code, time);
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
    std::vector<std::uint64_t> expected;
    for (const char* w = waits; *w; ++w) expected.push_back(*w == 'H' ? 3600000 : 10000);
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
              {{99, 0, L"X"}, {99, 0, L"Y"}, {99, 0, L"Z"}, {1901, kT, L"C"}, {0, kT, L"C"}});
    RunWorker("the period passes with scheduling off; stop ends a pause", "AB", "", "ep", "A",
              "HHHP", 0, {}, {{5, 0, L"A"}});
    RunWorker("a time left by a failure call counts as obtained", "FC", "", "p", "F", "HHHH", 0,
              {9999}, {{3, 0, L"F"}, {1901, 9999, L"F"}, {0, 9999, L"F"}});
}

// Periods below ten minutes are ignored and long ones do not overflow; an observer may stop the
// service from the worker.
TEST_F(TimeSyncTest, SchedulePeriodsAndAStopAskedFromTheWorker) {
    std::list<std::wstring> servers;
    service.GetScheduleTimeServer(servers);
    EXPECT_EQ(std::list<std::wstring>{L"pool.ntp.org"}, servers);  // the default
    for (const long long minutes : {10LL, 9LL, -5LL}) service.SetScheduleTime(minutes);
    std::promise<void> asked;
    observer.onCall = [&](TimeSyncService* svc, int, long long&) {
        if (observer.Count() == 2) svc->Stop(), asked.set_value();  // cannot wait: only asks
    };
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(0, service.Start());
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    service.SetScheduleTime(LLONG_MAX);  // from the next wait
    service.SyncTimeServerNow(L"x");
    service.SyncTimeServerNow();  // a pass, served after a wait with the new period
    asked.get_future().wait();
    service.Stop();  // the pause after the failure saw the request
    EXPECT_FALSE(service.IsThreadRunning());
    EXPECT_EQ(0, service.Start());
    const std::vector<std::uint64_t> timeouts = WaitTimeouts();
    EXPECT_EQ((std::vector<std::uint64_t>{600000u, 0xFFFFFFFFu}),
              std::vector<std::uint64_t>(timeouts.begin(), timeouts.begin() + 2));
}

}  // namespace
}  // namespace Ovra
