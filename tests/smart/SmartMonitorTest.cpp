#include <Ovra/HddSmartInfo.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/support/RecordingObserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using Readings = std::map<unsigned char, HddSmartAttr>;
using Snapshot = std::map<size_t, Readings>;

// Records the caller and the disks of the snapshot it could read from inside the call (no lock
// is held then).
struct Observer : HddSmartInfoObserver,
                  testing_support::RecordingObserver<HddSmartInfo*, std::vector<size_t>> {
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        Snapshot seen;
        info->GetSmartAttr(seen);
        std::vector<size_t> disks;
        for (const auto& entry : seen) disks.push_back(entry.first);
        Record(info, disks);
    }
    std::vector<size_t> DisksAt(size_t i) const { return std::get<1>(At(i)); }
};

class SmartMonitor : public ::testing::Test {
protected:
    SmartMonitor() {
        fake.EnableWaitGate(true);
        monitor->SetObserver(&observer);
    }

    // A disk whose value of attribute 1 is n + 1, so readings of two disks never look alike.
    void AddDisk(size_t n) {
        const auto tag = static_cast<std::uint8_t>(n + 1);
        fake.AddDevice(fakes::PhysicalDrivePath(n),
                       fakes::SmartDisk(fakes::SmartPage({{1, 0x0B, 0, tag, 90}}),
                                        fakes::SmartPage({{1, 51}})));
    }

    // Lets the worker's next wait run out and waits for the cycle's notification.
    void RunCycle() {
        ++m_cycles;
        ASSERT_TRUE(fake.Gate().AwaitEntered(m_cycles));
        fake.Gate().Elapse(1);
        ASSERT_TRUE(observer.AwaitCalls(m_cycles));
    }

    // The timeouts of the waits made so far; destroy the monitors first to join their workers.
    std::vector<std::uint64_t> Waits() const {
        std::vector<std::uint64_t> waits;
        for (const fakes::Call& call : fake.CallsNamed("WaitForMultipleObjects"))
            waits.push_back(call.args.at(2));
        return waits;
    }
    // Waits before cycles (the default 1000 ms); the others are the library peeking at stops.
    std::ptrdiff_t CheckWaits() const {
        const auto waits = Waits();
        return std::count(waits.begin(), waits.end(), 1000u);
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    Observer observer;
    std::unique_ptr<HddSmartInfo> monitor{new HddSmartInfo};

private:
    std::uint64_t m_cycles = 0;
};

TEST_F(SmartMonitor, EachCycleReadsTheQueuedDisksAndReplacesTheSnapshot) {
    Readings untouched{{9, HddSmartAttr{}}};
    Snapshot all{{3, Readings{}}};
    EXPECT_EQ(monitor->GetSmartAttr(0, untouched), 1);
    EXPECT_EQ(monitor->GetSmartAttr(all), 0);
    EXPECT_TRUE(all.empty());
    AddDisk(0);
    AddDisk(2);
    for (size_t disk : {2, 1 /* no such disk: left out */, 0}) monitor->AddCheckDisk(disk);
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    RunCycle();
    EXPECT_EQ(observer.At(0), std::make_tuple(monitor.get(), std::vector<size_t>{0, 2}));
    Readings disk2;
    EXPECT_EQ(monitor->GetSmartAttr(2, disk2), 0);
    EXPECT_EQ(disk2.size(), 22u);
    EXPECT_EQ(disk2[1].value, 3);  // the disk's own readings
    EXPECT_EQ(monitor->GetSmartAttr(1, untouched), 1);
    EXPECT_EQ(untouched.size(), 1u);

    monitor->AddCheckDisk(2);
    RunCycle();
    EXPECT_EQ(observer.DisksAt(1), std::vector<size_t>{2});  // disk 0 is gone
    RunCycle();                                              // the queue was emptied
    EXPECT_TRUE(observer.DisksAt(2).empty());
    EXPECT_EQ(fake.CallsNamed("CreateFileW").size(), 4u);
}

TEST_F(SmartMonitor, AllDisksModeReadsOnlyTheFirst32AndDropsTheQueue) {
    for (size_t n : {0, 3, 31, 32}) AddDisk(n);
    monitor->AddCheckDisk(40);
    monitor->SetCheckAllDisks(1);
    monitor->EnableCheck(1);
    RunCycle();
    EXPECT_EQ(observer.DisksAt(0), (std::vector<size_t>{0, 3, 31}));
    const auto opened = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opened.size(), 32u);
    for (size_t n = 0; n < 32; ++n) EXPECT_EQ(opened[n].text, fakes::PhysicalDrivePath(n));
    monitor->SetCheckAllDisks(0);
    RunCycle();  // disk 40 was dropped by the all-disks cycle
    EXPECT_TRUE(observer.DisksAt(1).empty());
}

TEST_F(SmartMonitor, ReadingAllDisksNowKeepsOtherEntries) {
    for (size_t n : {0, 31, 32}) AddDisk(n);
    Snapshot all;
    all[5][9].value = 77;   // unreadable now: kept
    all[31][9].value = 79;  // read now: replaced as a whole
    EXPECT_EQ(monitor->GetNowSmartAttr(all), 1);
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(all[5][9].value, 77);
    EXPECT_EQ(all[31].size(), 22u);
    EXPECT_EQ(all[31][1].value, 32);
    Snapshot stored;
    EXPECT_EQ(monitor->GetSmartAttr(stored), 0);  // the snapshot is not touched
    fake.FailAlways("CreateFileW", 2);
    EXPECT_EQ(monitor->GetNowSmartAttr(stored), 0);
}

TEST_F(SmartMonitor, CheckTimeIsWidenedWithItsSignAndTheObserverIsReadEachCycle) {
    monitor->EnableCheck(1);
    monitor->EnableCheck(1);  // one worker
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    monitor->SetCheckTime(-32768);  // made while the worker waits: used by the next wait
    fake.Gate().Elapse(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));
    monitor->SetObserver(nullptr);
    fake.Gate().Elapse(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));  // a cycle without observer is over
    EXPECT_EQ(observer.Count(), 1u);
    monitor->SetObserver(&observer);
    monitor->SetCheckTime(0);               // cycles back to back, until the third one asks for -1
    HddSmartInfo* running = monitor.get();  // the hook may run while `monitor` is reset
    observer.SetHook([this, running](const Observer::Entry&) {
        if (observer.Count() == 3) running->SetCheckTime(-1);
    });
    fake.Gate().Elapse(1);
    ASSERT_TRUE(observer.AwaitCalls(3));
    EXPECT_EQ(monitor->EnableCheck(0), 0);
    monitor.reset();
    EXPECT_EQ(Waits(),
              (std::vector<std::uint64_t>{1000, 0xFFFF8000u, 0xFFFF8000u, 0, 0xFFFFFFFFu}));
    EXPECT_EQ(observer.Count(), 3u);
}

TEST_F(SmartMonitor, ReadersAndWritersRunAlongsideCycles) {
    AddDisk(1);
    monitor->SetCheckTime(0);
    monitor->EnableCheck(1);
    std::thread writer([this] {
        HddSmartInfo copy(*monitor);
        for (int i = 0; i < 200; ++i) {
            copy.AddCheckDisk(1);
            copy.SetCheckTime(0);
        }
    });
    Readings attrs;
    for (int i = 0; i < 200; ++i) {
        if (monitor->GetSmartAttr(1, attrs) == 0) {
            EXPECT_EQ(attrs.size(), 22u);
        }
    }
    writer.join();
    ASSERT_TRUE(observer.AwaitCalls(10));
}

TEST_F(SmartMonitor, AssigningOverARunningMonitorMovesItsWorkerToTheNewRecord) {
    AddDisk(0);
    Observer newObserver;
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    HddSmartInfo source;
    source.SetObserver(&newObserver);
    source.AddCheckDisk(0);
    *monitor = source;                         // the old record has no other owner: it goes now
    monitor->operator=(*monitor);              // self-assignment changes nothing
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // the restarted worker's first wait
    fake.Gate().Elapse(1);
    ASSERT_TRUE(newObserver.AwaitCalls(1));
    EXPECT_EQ(newObserver.At(0), std::make_tuple(monitor.get(), std::vector<size_t>{0}));
    monitor.reset();
    EXPECT_EQ(observer.Count(), 0u);
    EXPECT_EQ(CheckWaits(), 3);  // old worker 1, new worker 2 (the last saw the stop)

    {
        HddSmartInfo stopped;  // a disabled monitor is not restarted by an assignment
        stopped.EnableCheck(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(3));
        stopped.EnableCheck(0);
        stopped = source;
    }
    EXPECT_EQ(CheckWaits(), 4);
}

// Assigns another monitor to the one that calls it, from inside the callback.
struct ReassigningObserver : HddSmartInfoObserver {
    explicit ReassigningObserver(const HddSmartInfo& replacement) : replacement(replacement) {}
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        *info = replacement;
        done.OnSmartAttrUpdate(info);
    }
    const HddSmartInfo& replacement;
    Observer done;
};

TEST_F(SmartMonitor, AssignmentFromInsideTheObserverStopsTheWorkerSafely) {
    AddDisk(0);
    HddSmartInfo replacement;
    ReassigningObserver reassigning(replacement);
    monitor->SetObserver(&reassigning);
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    fake.Gate().Elapse(1);
    ASSERT_TRUE(reassigning.done.AwaitCalls(1));
    monitor.reset();  // the worker finished its cycle on the record it kept alive
    EXPECT_EQ(CheckWaits(), 2);
    EXPECT_EQ(reassigning.done.Count(), 1u);
}

// Copies share one state record; destroyed in every order while two workers serve it, the last
// one standing still reaches it. Meant for the sanitizers as much as for its checks.
TEST_F(SmartMonitor, DestroyingSharersInEveryOrderWhileWorkersRun) {
    AddDisk(0);
    monitor.reset();
    std::array<int, 3> order{0, 1, 2};
    std::uint64_t waits = 0;
    do {
        Observer perRound;
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
        monitors[order[0]].reset();
        monitors[order[1]].reset();
        Snapshot all;
        monitors[order[2]]->GetSmartAttr(all);
        monitors[order[2]]->SetCheckTime(1000);
        monitors[order[2]].reset();
        waits = fake.Gate().Entered();  // every worker has ended
    } while (std::next_permutation(order.begin(), order.end()));
}

}  // namespace
}  // namespace Ovra
