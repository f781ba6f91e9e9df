#include "tests/smart/SmartTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using testing_smart::AddDisk;
using testing_smart::Readings;
using testing_smart::RecordingObserver;
using testing_smart::Snapshot;

std::vector<size_t> Disks(const Snapshot& snapshot) {
    std::vector<size_t> disks;
    for (const auto& entry : snapshot) disks.push_back(entry.first);
    return disks;
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

    std::vector<std::wstring> OpenedPaths() const {
        std::vector<std::wstring> paths;
        for (const fakes::Call& call : fake.CallsNamed("CreateFileW")) paths.push_back(call.text);
        return paths;
    }

    // Timeouts of the waits the workers made, in order. Destroy the monitors first: joining
    // their workers makes the record complete.
    std::vector<std::uint64_t> Waits() const {
        std::vector<std::uint64_t> waits;
        for (const fakes::Call& call : fake.CallsNamed("WaitForMultipleObjects")) {
            waits.push_back(call.args.at(2));
        }
        return waits;
    }
    // Waits before cycles (the default 1000 ms); the others are the library peeking at stops.
    size_t CheckWaits() const {
        const std::vector<std::uint64_t> waits = Waits();
        return static_cast<size_t>(std::count(waits.begin(), waits.end(), 1000u));
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    RecordingObserver observer;
    std::unique_ptr<HddSmartInfo> monitor{new HddSmartInfo};

private:
    std::uint64_t m_cycles = 0;
};

TEST_F(SmartMonitor, EmptyCycleStoresNothingAndStillNotifiesOnce) {
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    RunCycle();
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    EXPECT_EQ(observer.Calls(), 1u);
    EXPECT_EQ(observer.CallerAt(0), monitor.get());
    EXPECT_TRUE(observer.SnapshotAt(0).empty());
    EXPECT_TRUE(OpenedPaths().empty());
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
    Snapshot all{{3, Readings{}}};
    EXPECT_EQ(monitor->GetSmartAttr(all), 0);
    EXPECT_TRUE(all.empty());
    EXPECT_EQ(OpenedPaths().size(), 4u);
}

TEST_F(SmartMonitor, AllDisksModeReadsOnlyTheFirst32AndDropsTheQueue) {
    for (long long n : {0, 3, 31, 32}) AddDisk(fake, n);
    monitor->AddCheckDisk(40);
    monitor->SetCheckAllDisks(1);
    monitor->EnableCheck(1);
    RunCycle();
    EXPECT_EQ(Disks(observer.SnapshotAt(0)), (std::vector<size_t>{0, 3, 31}));
    const std::vector<std::wstring> opened = OpenedPaths();
    ASSERT_EQ(opened.size(), 32u);
    for (size_t n = 0; n < opened.size(); ++n) EXPECT_EQ(opened[n], fakes::PhysicalDrivePath(n));

    monitor->SetCheckAllDisks(0);
    RunCycle();  // disk 40 was dropped by the all-disks cycle
    EXPECT_TRUE(observer.SnapshotAt(1).empty());
    EXPECT_EQ(OpenedPaths().size(), 32u);
}

TEST_F(SmartMonitor, ReadingAllDisksNowKeepsOtherEntries) {
    for (long long n : {0, 31, 32}) AddDisk(fake, n);
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
    monitor.reset();
    EXPECT_EQ(Waits(), (std::vector<std::uint64_t>{1000, 0xFFFF8000u, 0xFFFFFFFFu}));
}

TEST_F(SmartMonitor, ZeroCheckTimeRunsCyclesBackToBack) {
    monitor->SetCheckTime(0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(observer.AwaitCalls(3));  // no gated wait: nothing to elapse
    monitor.reset();
    EXPECT_GE(Waits().size(), 3u);
    EXPECT_EQ(Waits(), std::vector<std::uint64_t>(Waits().size(), 0));
    EXPECT_EQ(fake.Gate().Entered(), 0u);
}

TEST_F(SmartMonitor, EnableTwiceStartsOneWorkerAndDisableStopsAtTheWait) {
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    EXPECT_EQ(monitor->EnableCheck(0), 0);
    monitor.reset();
    EXPECT_EQ(Waits().size(), 1u);  // one worker, one wait, no cycle
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

// Copies share one state record; these cases copy, assign and destroy monitors while workers
// run, and are meant for AddressSanitizer and ThreadSanitizer as much as for their checks.
TEST_F(SmartMonitor, ACopyOfARunningMonitorOutlivesItsSource) {
    AddDisk(fake, 0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    HddSmartInfo copy(*monitor);
    monitor.reset();  // stops and joins the source's worker only

    copy.AddCheckDisk(0);
    copy.EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    fake.Gate().Elapse(1);
    ASSERT_TRUE(observer.AwaitCalls(1));
    EXPECT_EQ(observer.CallerAt(0), &copy);  // the observer set on the source
    Readings attrs;
    EXPECT_EQ(copy.GetSmartAttr(0, attrs), 0);
}

TEST_F(SmartMonitor, ARunningMonitorKeepsWorkingAfterItsCopiesAreGone) {
    AddDisk(fake, 0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    {
        HddSmartInfo copy(*monitor);
        HddSmartInfo assigned;
        assigned = copy;
        assigned.AddCheckDisk(0);
    }
    RunCycle();
    Readings attrs;
    EXPECT_EQ(monitor->GetSmartAttr(0, attrs), 0);
}

TEST_F(SmartMonitor, AssigningOverARunningMonitorMovesItsWorkerToTheNewRecord) {
    AddDisk(fake, 0);
    RecordingObserver newObserver;
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));

    HddSmartInfo source;
    source.SetObserver(&newObserver);
    source.AddCheckDisk(0);
    *monitor = source;             // the old record has no other owner: it goes now
    monitor->operator=(*monitor);  // self-assignment changes nothing

    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // the restarted worker's first wait
    fake.Gate().Elapse(1);
    ASSERT_TRUE(newObserver.AwaitCalls(1));
    EXPECT_EQ(newObserver.CallerAt(0), monitor.get());
    EXPECT_EQ(newObserver.SnapshotAt(0).size(), 1u);
    monitor.reset();
    EXPECT_EQ(observer.Calls(), 0u);
    EXPECT_EQ(CheckWaits(), 3u);  // old worker 1, new worker 2 (the last saw the stop)

    // A disabled monitor is not restarted by an assignment.
    {
        const std::uint64_t entered = fake.Gate().Entered();
        HddSmartInfo target;
        target.EnableCheck(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(entered + 1));
        target.EnableCheck(0);
        target = source;
    }
    EXPECT_EQ(CheckWaits(), 4u);
}

// Assigns another monitor to the one that calls it, from inside the callback.
class ReassigningObserver : public HddSmartInfoObserver {
public:
    explicit ReassigningObserver(const HddSmartInfo& replacement) : m_replacement(replacement) {}
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        *info = m_replacement;
        done.OnSmartAttrUpdate(info);
    }
    RecordingObserver done;

private:
    const HddSmartInfo& m_replacement;
};

TEST_F(SmartMonitor, AssignmentFromInsideTheObserverStopsTheWorkerSafely) {
    AddDisk(fake, 0);
    HddSmartInfo replacement;
    ReassigningObserver reassigning(replacement);
    monitor->SetObserver(&reassigning);
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    fake.Gate().Elapse(1);
    ASSERT_TRUE(reassigning.done.AwaitCalls(1));
    monitor.reset();  // the worker finished its cycle on the record it kept alive
    EXPECT_EQ(CheckWaits(), 2u);
    EXPECT_EQ(reassigning.done.Calls(), 1u);
}

TEST_F(SmartMonitor, DestroyingSharersInEveryOrderWhileWorkersRun) {
    AddDisk(fake, 0);
    monitor.reset();
    std::array<int, 3> order{0, 1, 2};
    std::uint64_t waits = 0;
    do {
        RecordingObserver perRound;
        std::array<std::unique_ptr<HddSmartInfo>, 3> monitors;
        monitors[0].reset(new HddSmartInfo);
        monitors[0]->SetObserver(&perRound);
        monitors[0]->AddCheckDisk(0);
        monitors[0]->EnableCheck(1);
        monitors[1].reset(new HddSmartInfo(*monitors[0]));
        monitors[1]->EnableCheck(1);  // a second worker on the same record
        monitors[2].reset(new HddSmartInfo);
        *monitors[2] = *monitors[1];

        waits += 2;
        ASSERT_TRUE(fake.Gate().AwaitEntered(waits));
        fake.Gate().Elapse(2);
        ASSERT_TRUE(perRound.AwaitCalls(2));
        for (int i : order) monitors[i].reset();
        waits = fake.Gate().Entered();  // every worker has ended
    } while (std::next_permutation(order.begin(), order.end()));
}

}  // namespace
}  // namespace Ovra
