// Monitored cycles of a simulated disk recorded in a health log and read back as history.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthDisks.h"
#include "tests/support/RecordingObserver.h"
#include "tests/support/ScratchDir.h"

#include "HealthLog.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace testing_health;

// Records each cycle, then lets the disk reallocate more sectors before the next one.
class Recorder : public HddSmartInfoObserver, public ::testing_support::RecordingObserver<int> {
public:
    Recorder(fakes::FakePlatform& fake, SimDevice& disk, ovractl::HealthLog& log)
        : m_fake(fake), m_disk(disk), m_log(log) {}
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        std::map<std::size_t, std::map<unsigned char, HddSmartAttr>> all;
        info->GetSmartAttr(all);
        const int rc = m_log.RecordCycle(m_fake.Time(), all);
        m_fake.SetTime(m_fake.Time() + 60000);
        m_reallocated += 4;
        m_disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0xD0, 0xB0),
                      WithReplyHead(AttributePage(
                          With(QemuAttributes(), {5, 0x33, 100, 100, m_reallocated}))));
        info->AddCheckDisk(0);
        Record(rc);
    }
    static std::vector<AtaEntry> With(std::vector<AtaEntry> entries, const AtaEntry& changed) {
        for (AtaEntry& e : entries)
            if (e.id == changed.id) e = changed;
        return entries;
    }

private:
    fakes::FakePlatform& m_fake;
    SimDevice& m_disk;
    ovractl::HealthLog& m_log;
    long long m_reallocated = 0;
};

TEST(HealthLog, ThreeMonitoredCyclesReadBackAsHistory) {
    testing_support::ScratchDir scratch("health-log");
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.EnableWaitGate(true);
    const long long start = fake.Time();
    SimDevice& disk =
        fake.AddDevice(fakes::PhysicalDrivePath(0), AtaDisk(AttributePage(QemuAttributes())));
    ovractl::HealthLog log;
    ASSERT_EQ(log.Open(scratch.WidePath("health.db")), 0);
    Recorder recorder(fake, disk, log);
    {
        HddSmartInfo monitor;
        monitor.SetObserver(&recorder);
        monitor.AddCheckDisk(0);
        monitor.EnableCheck(1);
        for (int cycle = 1; cycle <= 3; ++cycle) {
            ASSERT_TRUE(fake.Gate().AwaitEntered(cycle));
            fake.Gate().Elapse(1);
            ASSERT_TRUE(recorder.AwaitCalls(cycle));
        }
        monitor.SetObserver(nullptr);
    }
    for (int cycle = 0; cycle < 3; ++cycle) EXPECT_EQ(std::get<0>(recorder.At(cycle)), 0);

    std::vector<ovractl::HealthSample> reallocated, disk0;
    ASSERT_EQ(log.History(0, 5, reallocated), 0);
    ASSERT_EQ(log.History(0, 0, disk0), 0);
    ASSERT_EQ(reallocated.size(), 3u);
    ASSERT_EQ(disk0.size(), 3u);
    const wchar_t* verdicts[] = {L"Good", L"Warning", L"Warning"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reallocated[i].time, start + 60000 * i);
        EXPECT_EQ(reallocated[i].value, 100);
        EXPECT_EQ(reallocated[i].raw, 4 * i);
        EXPECT_EQ(disk0[i].temperature, 31);
        EXPECT_EQ(disk0[i].raw, ovractl::HealthSample::kAbsent);
        EXPECT_EQ(disk0[i].verdict, verdicts[i]);
    }
    std::vector<ovractl::HealthSample> all;
    ASSERT_EQ(log.History(-1, -1, all), 0);
    EXPECT_EQ(all.size(), 3u * (1 + QemuAttributes().size()));
}

}  // namespace
}  // namespace Ovra
