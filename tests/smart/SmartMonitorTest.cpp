#include "smart/SmartTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using testing_smart::AddDisk;
using testing_smart::CycleWaits;
using testing_smart::Readings;
using testing_smart::RecordingObserver;
using testing_smart::Snapshot;

std::vector<size_t> Disks(const Snapshot& snapshot) {
    std::vector<size_t> disks;
    for (const auto& entry : snapshot) disks.push_back(entry.first);
    return disks;
}

std::vector<std::wstring> OpenedPaths(const FakePlatform& fake) {
    std::vector<std::wstring> paths;
    for (const fakes::Call& call : fake.CallsNamed("CreateFileW")) paths.push_back(call.text);
    return paths;
}

class SmartMonitor : public ::testing::Test {
protected:
    SmartMonitor() {
        fake.EnableWaitGate(true);
        monitor->SetObserver(&observer);
    }

    // Lets the worker's next wait run out and waits for the cycle's notification.
    void RunCycle() {
        ++m_cycles;
        ASSERT_TRUE(fake.Gate().AwaitEntered(m_cycles));
        fake.Gate().Elapse(1);
        ASSERT_TRUE(observer.AwaitCalls(m_cycles));
    }

    // Destroying the monitor joins its worker, so what it did can be inspected race-free.
    void StopMonitor() { monitor.reset(); }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    RecordingObserver observer;
    std::unique_ptr<HddSmartInfo> monitor{new HddSmartInfo};

private:
    std::uint64_t m_cycles = 0;
};

TEST_F(SmartMonitor, AFreshMonitorHasNoSnapshot) {
    Readings attrs{{7, HddSmartAttr{}}};
    EXPECT_EQ(monitor->GetSmartAttr(0, attrs), 1);
    EXPECT_EQ(attrs.size(), 1u);
    Snapshot all{{3, Readings{}}};
    EXPECT_EQ(monitor->GetSmartAttr(all), 0);
    EXPECT_TRUE(all.empty());
    EXPECT_EQ(monitor->EnableCheck(0), 0);  // never started
}

TEST_F(SmartMonitor, EmptyCycleStoresNothingAndStillNotifiesOnce) {
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    RunCycle();
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    EXPECT_EQ(observer.Calls(), 1u);
    EXPECT_EQ(observer.CallerAt(0), monitor.get());
    EXPECT_TRUE(observer.SnapshotAt(0).empty());
    EXPECT_TRUE(OpenedPaths(fake).empty());
}

TEST_F(SmartMonitor, EachCycleReadsTheQueuedDisksAndReplacesTheSnapshot) {
    AddDisk(fake, 0);
    AddDisk(fake, 2);
    monitor->AddCheckDisk(2);
    monitor->AddCheckDisk(1);  // no such disk: left out
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    RunCycle();
    EXPECT_EQ(Disks(observer.SnapshotAt(0)), (std::vector<size_t>{0, 2}));
    Readings disk0, disk2;
    EXPECT_EQ(monitor->GetSmartAttr(0, disk0), 0);
    EXPECT_EQ(monitor->GetSmartAttr(2, disk2), 0);
    EXPECT_EQ(disk0.size(), 22u);
    EXPECT_EQ(disk0[1].value, 1);  // each disk's own readings
    EXPECT_EQ(disk2[1].value, 3);
    EXPECT_EQ(disk2[194].worst, 3);
    Readings untouched{{9, HddSmartAttr{}}};
    EXPECT_EQ(monitor->GetSmartAttr(1, untouched), 1);
    EXPECT_EQ(untouched.size(), 1u);

    monitor->AddCheckDisk(2);
    RunCycle();
    EXPECT_EQ(Disks(observer.SnapshotAt(1)), (std::vector<size_t>{2}));  // disk 0 is gone
    EXPECT_EQ(observer.SnapshotAt(1).at(2)[1].value, 3);

    RunCycle();  // the queue was emptied
    EXPECT_TRUE(observer.SnapshotAt(2).empty());
    Snapshot all;
    EXPECT_EQ(monitor->GetSmartAttr(all), 0);
    EXPECT_EQ(OpenedPaths(fake).size(), 4u);
}

TEST_F(SmartMonitor, AllDisksModeReadsOnlyTheFirst32AndDropsTheQueue) {
    for (long long n : {0, 3, 31, 32}) AddDisk(fake, n);
    monitor->AddCheckDisk(40);
    monitor->SetCheckAllDisks(1);
    monitor->EnableCheck(1);
    RunCycle();
    EXPECT_EQ(Disks(observer.SnapshotAt(0)), (std::vector<size_t>{0, 3, 31}));
    const std::vector<std::wstring> opened = OpenedPaths(fake);
    ASSERT_EQ(opened.size(), 32u);
    for (size_t n = 0; n < opened.size(); ++n) EXPECT_EQ(opened[n], fakes::PhysicalDrivePath(n));

    monitor->SetCheckAllDisks(0);
    RunCycle();  // disk 40 was dropped by the all-disks cycle
    EXPECT_TRUE(observer.SnapshotAt(1).empty());
    EXPECT_EQ(OpenedPaths(fake).size(), 32u);
}

TEST_F(SmartMonitor, ReadingAllDisksNowKeepsOtherEntries) {
    AddDisk(fake, 0);
    AddDisk(fake, 31);
    AddDisk(fake, 32);
    Snapshot all;
    all[5][9].value = 77;   // unreadable now: kept
    all[40][9].value = 78;  // beyond the range: kept
    all[31][9].value = 79;  // read now: replaced as a whole
    EXPECT_EQ(monitor->GetNowSmartAttr(all), 1);
    EXPECT_EQ(Disks(all), (std::vector<size_t>{0, 5, 31, 40}));
    EXPECT_EQ(all[5][9].value, 77);
    EXPECT_EQ(all[31].size(), 22u);
    EXPECT_EQ(all[31][1].value, 32);
    EXPECT_EQ(all[31][9].value, 0);
    Snapshot stored;
    EXPECT_EQ(monitor->GetSmartAttr(stored), 0);  // the snapshot is not touched

    fake.RemoveDevice(fakes::PhysicalDrivePath(0));
    fake.RemoveDevice(fakes::PhysicalDrivePath(31));
    Snapshot none;
    EXPECT_EQ(monitor->GetNowSmartAttr(none), 0);
    EXPECT_TRUE(none.empty());
}

TEST_F(SmartMonitor, CheckTimeIsWidenedWithItsSign) {
    monitor->EnableCheck(1);
    // Each setting is made while the worker waits, so the wait after the next cycle uses it.
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    monitor->SetCheckTime(-32768);
    fake.Gate().Elapse(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // 0xFFFF8000 is finite: gated
    monitor->SetCheckTime(-1);
    fake.Gate().Elapse(1);
    ASSERT_TRUE(observer.AwaitCalls(2));
    StopMonitor();
    EXPECT_EQ(CycleWaits(fake), (std::vector<std::uint64_t>{1000, 0xFFFF8000u, 0xFFFFFFFFu}));
}

TEST_F(SmartMonitor, ZeroCheckTimeRunsCyclesBackToBack) {
    monitor->SetCheckTime(0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(observer.AwaitCalls(3));  // no gated wait: nothing to elapse
    StopMonitor();
    const std::vector<std::uint64_t> waits = CycleWaits(fake);
    EXPECT_GE(waits.size(), 3u);
    for (std::uint64_t wait : waits) EXPECT_EQ(wait, 0u);
    EXPECT_EQ(fake.Gate().Entered(), 0u);
}

TEST_F(SmartMonitor, EnableTwiceStartsOneWorkerAndDisableStopsAtTheWait) {
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    EXPECT_EQ(monitor->EnableCheck(0), 0);
    StopMonitor();
    EXPECT_EQ(CycleWaits(fake).size(), 1u);  // one worker, one wait, no cycle
    EXPECT_EQ(observer.Calls(), 0u);
}

TEST_F(SmartMonitor, RemovedObserverHearsNothingAfterTheCycleUnderWay) {
    monitor->EnableCheck(1);
    RunCycle();
    monitor->SetObserver(nullptr);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    fake.Gate().Elapse(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));  // the second cycle is over
    EXPECT_EQ(observer.Calls(), 1u);
}

TEST_F(SmartMonitor, CopiesShareDisksSnapshotAndObserver) {
    AddDisk(fake, 4);
    HddSmartInfo copy(*monitor);
    HddSmartInfo assigned;
    assigned = copy;
    assigned.AddCheckDisk(4);
    copy.EnableCheck(1);
    RunCycle();
    EXPECT_EQ(observer.CallerAt(0), &copy);  // the observer set on the original
    Readings attrs;
    EXPECT_EQ(monitor->GetSmartAttr(4, attrs), 0);
    EXPECT_EQ(attrs[1].value, 5);
}

TEST_F(SmartMonitor, ReadersAndWritersRunAlongsideCycles) {
    AddDisk(fake, 1);
    monitor->SetCheckTime(0);
    monitor->EnableCheck(1);
    std::thread writer([this] {
        HddSmartInfo copy(*monitor);
        for (int i = 0; i < 200; ++i) {
            copy.AddCheckDisk(1);
            copy.SetCheckTime(0);
            copy.SetCheckAllDisks(0);
        }
    });
    Readings attrs;
    Snapshot all;
    for (int i = 0; i < 200; ++i) {
        if (monitor->GetSmartAttr(1, attrs) == 0) {
            EXPECT_EQ(attrs.size(), 22u);
        }
        monitor->GetSmartAttr(all);
    }
    writer.join();
    ASSERT_TRUE(observer.AwaitCalls(10));
}

}  // namespace
}  // namespace Ovra
