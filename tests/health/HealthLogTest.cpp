// Monitored cycles of a simulated disk recorded in a health log and read back as history.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthPages.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/ScratchDir.h"

#include "tools/ovractl/HealthLog.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace testing_health;
using platform::PhysicalDrivePath;

// Records each cycle as `smart --watch --log` does; then the clock moves on a minute and the
// disk reallocates four more sectors before the next cycle.
struct Recorder : HddSmartInfoObserver, ::testing_support::RecordingObserver<int> {
    fakes::FakePlatform* fake;
    SimDevice* disk;
    ovractl::HealthLog* log;
    long long reallocated = 0;
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        std::map<std::size_t, std::map<unsigned char, HddSmartAttr>> all;
        info->GetSmartAttr(all);
        const int rc = log->RecordCycle(fake->Time(), all);
        fake->SetTime(fake->Time() + 60000);
        reallocated += 4;
        disk->Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0xD0, 0xB0),
                     WithReplyHead(AttributePage(QemuAttributes(reallocated))));
        info->AddCheckDisk(0);
        Record(rc);
    }
};

TEST(HealthLog, ThreeMonitoredCyclesReadBackAsHistory) {
    testing_support::ScratchDir scratch("health-log");
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.EnableWaitGate(true);
    const long long start = fake.Time();
    ovractl::HealthLog log;
    ASSERT_EQ(log.Open(scratch.WidePath("health.db")), 0);
    Recorder recorder;
    recorder.fake = &fake;
    recorder.log = &log;
    recorder.disk = &fake.AddDevice(PhysicalDrivePath(0), AtaDisk(AttributePage(QemuAttributes())));
    {
        HddSmartInfo monitor;
        monitor.SetObserver(&recorder);
        monitor.AddCheckDisk(0);
        monitor.EnableCheck(1);
        for (int cycle = 1; cycle <= 3; ++cycle) {
            ASSERT_TRUE(fake.Gate().AwaitEntered(cycle));
            fake.Gate().Elapse(1);
            ASSERT_TRUE(recorder.AwaitCalls(cycle));
            EXPECT_EQ(std::get<0>(recorder.At(cycle - 1)), 0);
        }
        monitor.SetObserver(nullptr);
    }

    std::vector<ovractl::HealthSample> reallocated, disk0;
    ASSERT_EQ(log.History(0, 5, reallocated), 0);
    ASSERT_EQ(log.History(0, 0, disk0), 0);
    ASSERT_EQ(reallocated.size(), 3u);
    ASSERT_EQ(disk0.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const ovractl::HealthSample& r = reallocated[i];
        EXPECT_EQ(std::vector<long long>({r.time, r.value, r.worst, r.raw, disk0[i].temperature}),
                  std::vector<long long>({start + 60000 * i, 100, 100, 4 * i, 31}));
        EXPECT_EQ(disk0[i].verdict, i ? L"Warning" : L"Good");
    }
}

}  // namespace
}  // namespace Ovra
