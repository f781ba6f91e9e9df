// The disk watch over simulated disks; the clock moves only when the worker waits.
#include <Ovra/DiskHealthWatch.h>
#include <gtest/gtest.h>

#include "src/watch/WatchWorker.h"
#include "tests/fakes/watch/SimDisks.h"

#include <functional>
#include <future>

namespace Ovra {
namespace {

using Lines = std::vector<std::wstring>;
using Disks = std::map<long long, fakes::SimDisk>;
const long long kMinute = 60000;

// A watcher over SimDisks; it records each event as "minute disk name [from>to] [detail]" and is
// read once the worker has ended.
struct Rig : DiskHealthWatchObserver {
    Rig() { watcher.SetObserver(this); }
    void OnDiskHealthEvent(DiskHealthWatch* watch, const DiskHealthEvent& e) override {
        told.push_back(std::to_wstring((e.time - start) / kMinute) + L" " +
                       std::to_wstring(e.disk) + L" " + DiskHealthEventName(e.type));
        if (!e.from.empty() || !e.to.empty()) told.back() += L" " + e.from + L">" + e.to;
        if (!e.detail.empty()) told.back() += L" " + e.detail;
        if (onEvent) onEvent(watch);
    }
    void OnDiskHealthPoll(DiskHealthWatch* watch, long long poll) override { onPoll(watch, poll); }
    // Runs `polls` polls, `between` after each, and stops from the observer after the last.
    void Run(long long polls, std::function<void(long long)> between) {
        onPoll = [=](DiskHealthWatch*, long long poll) {
            between(poll);
            if (poll == polls) watcher.Stop(), ended.set_value();  // only asks
        };
        ASSERT_EQ(0, watcher.Start());
        ended.get_future().wait();
        watcher.Stop();
    }

    fakes::SteppingPlatform fake;
    platform::ScopedPlatform scope{fake};
    fakes::SimDisks sim{fake};
    Disks& disks = sim.disks;
    long long start = fake.Time();
    Lines told;
    std::function<void(DiskHealthWatch*)> onEvent;
    std::function<void(DiskHealthWatch*, long long)> onPoll;
    std::promise<void> ended;
    watch::Watcher watcher{nullptr, sim};
};

TEST(DiskHealthWatchTest, EveryChangeIsToldOnceByThePollThatSeesIt) {
    Rig rig;
    DiskHealth& good = rig.disks[0].health;
    good.verdict = DiskHealth::Good, good.hasTemperature = true, good.temperature = 40;
    good.reallocatedSectors = good.reportedUncorrectable = good.commandTimeouts = 0;
    good.pendingSectors = good.offlineUncorrectable = good.errorLogCount = 0;
    rig.disks[1] = rig.disks[3] = rig.disks[0];
    rig.disks[1].health.verdict = DiskHealth::Failing;
    rig.disks[1].health.temperature = 60;  // at the critical limit: not above it
    rig.disks[1].health.reasons = {L"worn", L"hot"};
    rig.disks[3].health.hasNvmeLog = true, rig.disks[3].testEnd = LLONG_MAX;
    rig.disks[3].health.selfTests.resize(1);  // neither the log nor the test is news at first
    rig.watcher.SetTemperatureLimits(50, 60);
    fakes::SimDisk saved;
    const DiskSelfTest bad{DiskSelfTest::Extended, DiskSelfTest::ReadFailure, kHealthAbsent, 9};
    const auto addBad = [&](Disks& d) {
        d[0].health.selfTests.insert(d[0].health.selfTests.begin(), bad);
    };
    // The change made after each poll, told by the next one, half an hour later.
    const std::vector<std::function<void(Disks&)>> changes = {
        [](Disks& d) {
            DiskHealth& h = d[0].health;
            h.reallocatedSectors = 1, h.reportedUncorrectable = 2, h.commandTimeouts = 3;
            h.pendingSectors = 4, h.offlineUncorrectable = 5, h.errorLogCount = 7;
            d[3].health.nvme.mediaErrors = 6;
        },
        [](Disks& d) {  // some drives log the running test too
            d[0].testEnd = LLONG_MAX, d[0].health.selfTests.resize(1);
            d[0].health.selfTests[0].result = DiskSelfTest::InProgress;
        },
        // A failed read forgets nothing: the counters and the running test are not told again.
        [&](Disks& d) { saved = d[0], d[0] = fakes::SimDisk(), d[0].result = 105; },
        [&](Disks& d) { d[0] = saved, d[0].health.reallocatedSectors = 2; },
        [](Disks& d) { d[0].health.temperature = d[1].health.temperature = 55; },
        [](Disks& d) { d[0].health.temperature = 65, d[1].health.temperature = 45; },
        [](Disks& d) { d[0].health.temperature = 50, d[0].testEnd = 0; },
        [](Disks& d) { d[0].testEnd = LLONG_MAX; },
        // The same words as the entry before, in a log as long: the end of the run tells them.
        [](Disks& d) { d[0].testEnd = 0, d[0].health.selfTests.clear(); }, addBad,
        addBad,  // the same words again, in a longer log
        [](Disks& d) { d[2] = d[0], d[2].health.verdict = DiskHealth::Warning, d.erase(1); },
        [&](Disks&) {
            rig.watcher.SetDisks({0, 3});
        },  // 2 leaves quietly
    };
    rig.Run(changes.size() + 1, [&](long long poll) {
        if (poll <= static_cast<long long>(changes.size())) changes[poll - 1](rig.disks);
    });
    EXPECT_EQ((Lines{L"0 1 verdict-changed Unknown>Failing worn; hot",
                     L"0 1 temperature-high >60 warning 50",
                     L"30 0 counter-increased 0>1 5 Reallocated Sectors Count",
                     L"30 0 counter-increased 0>2 187 Reported Uncorrectable Errors",
                     L"30 0 counter-increased 0>3 188 Command Timeout",
                     L"30 0 counter-increased 0>4 197 Current Pending Sector Count",
                     L"30 0 counter-increased 0>5 198 Offline Uncorrectable",
                     L"30 0 errors-logged 0>7",
                     L"30 3 counter-increased 0>6 media errors",
                     L"60 0 selftest-started unknown",
                     L"90 0 verdict-changed Good>Unknown",
                     L"120 0 verdict-changed Unknown>Good",
                     L"120 0 counter-increased 1>2 5 Reallocated Sectors Count",
                     L"150 0 temperature-high 40>55 warning 50",
                     L"180 0 temperature-high 55>65 critical 60",
                     L"180 1 temperature-normal 55>45 warning 50",
                     L"210 0 temperature-normal 65>50 warning 50",
                     L"210 0 selftest-passed short",
                     L"240 0 selftest-started unknown",
                     L"270 0 selftest-passed short",
                     L"300 0 selftest-failed extended, read failure, LBA 9",
                     L"330 0 selftest-failed extended, read failure, LBA 9",
                     L"360 1 disk-removed",
                     L"360 2 disk-added"}),
              rig.told);
    std::vector<long long> known;
    for (const auto& reading : rig.watcher.GetReadings()) known.push_back(reading.first);
    EXPECT_EQ((std::vector<long long>{0, 3}), known);
}

TEST(DiskHealthWatchTest, ScheduleStartsOncePerMatchingHourNotAtFirstNorWhileATestRuns) {
    Rig rig;
    long long t0 = rig.start / 3600000 * 3600000;  // 02:00 local time
    for (std::time_t s = t0 / 1000; std::localtime(&s)->tm_hour != 2 || std::localtime(&s)->tm_min;
         s = (t0 -= 15 * kMinute) / 1000) {
    }
    rig.fake.SetTime(rig.start = t0);
    for (long long disk : {0, 1, 2}) rig.disks[disk].health.canSelfTest = true;
    rig.disks[2].refuse = true, rig.disks[3].health.canSelfTest = false;  // 3 is left out
    EXPECT_EQ(0, rig.watcher.SetSelfTestSchedule(L"S/../.././02"));
    EXPECT_EQ(141, rig.watcher.SetSelfTestSchedule(L"S/(../.././02"));  // the old one stays
    rig.Run(96, [&](long long poll) {  // two days, with someone else's test at the second 02:00
        if (poll == 48) rig.disks[1].testEnd = t0 + 1460 * kMinute;
    });
    const std::wstring started = L" selftest-started short", passed = L" selftest-passed short",
                       refused = L" selftest-failed not started: short, refused";
    EXPECT_EQ((Lines{L"30 0" + started, L"30 1" + started, L"30 2" + refused, L"90 0" + passed,
                     L"90 1" + passed, L"1440 0" + started, L"1440 1 selftest-started unknown",
                     L"1440 2" + refused, L"1470 1" + passed, L"1470 1" + started,
                     L"1500 0" + passed, L"1530 1" + passed}),
              rig.told);
}

TEST(DiskHealthWatchTest, ScheduleMatchesTheWholeKeyAndTheLongestTestWins) {
    const struct {
        const wchar_t* schedule;
        int month, day, weekday, kind;  // at 02:00; kind: 1 short, 2 extended, 3 conveyance
    } rows[] = {{L"S/../.././0", 11, 19, 0, -1},
                {L"S/../.././02|L/../../7/02", 11, 19, 0, 2},  // Sunday is 7
                {L"S/../.././02|L/../../7/02", 11, 18, 6, 1},
                {L"S/../.././02|C/01/05/./0[0-3]", 1, 5, 5, 3}};
    for (const auto& row : rows) {
        std::shared_ptr<const watch::SelfTestSchedule> schedule;
        ASSERT_EQ(0, watch::SelfTestSchedule::Parse(row.schedule, schedule));
        std::tm local{};
        local.tm_mon = row.month - 1, local.tm_mday = row.day, local.tm_wday = row.weekday;
        local.tm_hour = 2;
        EXPECT_EQ(row.kind, schedule->Due(local)) << row.schedule;
    }
}

// Through the library's own reading; the observer calls back, and stops the watch after a disk.
TEST(DiskHealthWatchTest, TheExportedWatchReadsDisks0To31AndStopsAfterADiskOrAWait) {
    Rig rig;
    for (int disk : {3, 31}) rig.fake.AddDevice(platform::PhysicalDrivePath(disk));  // Unknown
    DiskHealthWatch watch;
    watch.SetObserver(&rig);
    watch.SendTestEvent();
    rig.onPoll = [&](DiskHealthWatch* from, long long) {
        EXPECT_EQ(2u, from->GetReadings().size());
        rig.fake.RemoveDevice(platform::PhysicalDrivePath(3));
        rig.fake.AddDevice(platform::PhysicalDrivePath(30));
        EXPECT_EQ(120, from->Start());
        rig.onEvent = [&](DiskHealthWatch* from) { from->Stop(), rig.ended.set_value(); };
    };
    ASSERT_EQ(0, watch.Start());
    rig.ended.get_future().wait();
    watch.Stop();
    EXPECT_EQ((Lines{L"0 -1 test", L"30 3 disk-removed"}), rig.told);
    EXPECT_EQ(0u, watch.GetReadings().count(30));  // not read
    rig.onEvent = nullptr, rig.onPoll = [](DiskHealthWatch*, long long) {};
    rig.fake.stepping = false;
    rig.fake.EnableWaitGate(true);
    ASSERT_EQ(0, watch.Start());
    ASSERT_TRUE(rig.fake.Gate().AwaitEntered(1));  // the half-hour wait after the poll
    watch.Stop();
    EXPECT_FALSE(watch.IsRunning());
}

}  // namespace
}  // namespace Ovra
