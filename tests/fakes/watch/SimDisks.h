#pragma once

// Disks as the disk watch reads them, and a clock that moves only when the worker waits: a finite
// wait that nothing ends at once returns at once with its time-out added to the clock, so two
// simulated days of half-hour polls run in milliseconds.

#include "src/watch/DiskProbe.h"
#include "tests/fakes/FakePlatform.h"

#include <atomic>
#include <climits>

namespace Ovra::fakes {

class SteppingPlatform : public FakePlatform {
public:
    std::atomic<bool> stepping{true};  // off: waits as FakePlatform's (real, or the gate)
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t ms) override {
        if (!stepping || ms == 0 || ms == platform::kInfinite)
            return FakePlatform::WaitForMultipleObjects(count, handles, waitAll, ms);
        const std::uint32_t now = FakePlatform::WaitForMultipleObjects(count, handles, waitAll, 0);
        if (now == platform::kWaitTimeout) SetTime(Time() + ms);
        return now;
    }
};

// One disk: what ReadDiskHealth would give (121: none), and a self-test that runs until
// `testEnd` on the clock, then enters the log as a passed short test.
struct SimDisk {
    int result = 0;
    DiskHealth health;
    long long testEnd = LLONG_MIN;
    bool refuse = false;  // every start fails with 127
};

// The watch's probe. Tests change `disks` only while no worker runs or from the observer, on the
// worker. A started test runs for 40 minutes.
struct SimDisks : watch::DiskProbe {
    explicit SimDisks(FakePlatform& clock) : clock(clock) {}
    int Read(long long disk, DiskHealth& health) override {
        if (disks.count(disk) == 0) return 121;
        SimDisk& d = disks[disk];
        d.health.selfTestInProgress = clock.Time() < d.testEnd ? 50 : -1;
        if (d.testEnd != LLONG_MIN && clock.Time() >= d.testEnd) {
            auto& t = d.health.selfTests;
            t.insert(t.begin(), {DiskSelfTest::Short, DiskSelfTest::Passed, d.testEnd / 3600000});
            d.testEnd = LLONG_MIN;
        }
        health = d.health;
        return d.result;
    }
    int StartSelfTest(long long disk, int, std::wstring& reason) override {
        if (disks.at(disk).refuse) return reason = L"refused", 127;
        disks.at(disk).testEnd = clock.Time() + 40 * 60000;
        return 0;
    }

    FakePlatform& clock;
    std::map<long long, SimDisk> disks;
};

}  // namespace Ovra::fakes
