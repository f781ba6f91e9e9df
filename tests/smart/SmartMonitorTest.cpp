#include <Ovra/HddSmartInfo.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/support/RecordingObserver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace Ovra {
namespace {

using Readings = std::map<unsigned char, HddSmartAttr>;
using Snapshot = std::map<size_t, Readings>;
using Disks = std::vector<size_t>;

// Records the disks of the snapshot it reads from inside the call (no lock is held then).
struct Observer : HddSmartInfoObserver, testing_support::RecordingObserver<HddSmartInfo*, Disks> {
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        Snapshot seen;
        info->GetSmartAttr(seen);
        Disks disks;
        for (const auto& entry : seen) disks.push_back(entry.first);
        Record(info, disks);
    }
    Disks DisksAt(size_t i) const { return std::get<1>(At(i)); }
};

class SmartMonitor : public ::testing::Test {
protected:
    SmartMonitor() {
        fake.EnableWaitGate(true);
        monitor->SetObserver(&observer);
    }
    // A disk whose attribute 1 has the value n + 1.
    void AddDisk(size_t n) {
        fake.AddDevice(fakes::PhysicalDrivePath(n),
                       fakes::SmartDisk(fakes::SmartPage({{1, 0x0B, 0, std::uint8_t(n + 1), 90}}),
                                        fakes::SmartPage({{1, 51}})));
    }
    // Lets the next gated wait run out; with `seen`, waits for the cycle's notification.
    void Elapse(std::uint64_t wait, Observer* seen = nullptr) {
        ASSERT_TRUE(fake.Gate().AwaitEntered(wait));
        fake.Gate().Elapse(1);
        ASSERT_TRUE(!seen || seen->AwaitCalls(++m_cycles));
    }
    // The timeouts of the waits so far; destroy the monitors first to join their workers.
    std::vector<std::uint64_t> Waits() const {
        std::vector<std::uint64_t> waits;
        for (const fakes::Call& call : fake.CallsNamed("WaitForMultipleObjects"))
            waits.push_back(call.args.at(2));
        return waits;
    }
    std::ptrdiff_t CycleWaits() const {  // the default 1000 ms; others peek at stops
        const auto waits = Waits();
        return std::count(waits.begin(), waits.end(), 1000u);
    }

    fakes::FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    Observer observer;
    std::unique_ptr<HddSmartInfo> monitor{new HddSmartInfo};
    size_t m_cycles = 0;
};

TEST_F(SmartMonitor, EachCycleReadsTheQueuedOrAllDisksAndReplacesTheSnapshot) {
    Readings untouched{{9, HddSmartAttr{}}};
    Snapshot all{{3, Readings{}}};
    EXPECT_EQ(monitor->GetSmartAttr(0, untouched) * 10 + monitor->GetSmartAttr(all), 10);
    EXPECT_TRUE(all.empty());
    for (size_t n : {0, 2, 31, 32}) AddDisk(n);
    for (size_t disk : {2, 1 /* no such disk: left out */, 0}) monitor->AddCheckDisk(disk);
    EXPECT_EQ(monitor->EnableCheck(1), 0);
    Elapse(1, &observer);
    EXPECT_EQ(observer.At(0), std::make_tuple(monitor.get(), Disks{0, 2}));
    EXPECT_EQ(monitor->GetSmartAttr(2, untouched), 0);
    EXPECT_EQ(untouched.size() * 10 + untouched[1].value, 223u);
    monitor->AddCheckDisk(2);
    Elapse(2, &observer);
    EXPECT_EQ(observer.DisksAt(1), Disks{2});  // disk 0 is gone
    for (int all : {1, 0}) {  // the first 32 disks; then the queue is found emptied
        monitor->SetCheckAllDisks(all);
        Elapse(4 - all, &observer);
        EXPECT_EQ(observer.DisksAt(3 - all), (all ? Disks{0, 2, 31} : Disks{}));
    }
    EXPECT_EQ(fake.CallsNamed("CreateFileW").size(), 36u);

    all = {{5, {{9, HddSmartAttr{}}}}, {31, {{9, HddSmartAttr{}}}}};
    EXPECT_EQ(monitor->GetNowSmartAttr(all), 1);  // kept unless read now, replaced as a whole
    EXPECT_EQ(all.size() * 100 + all[5].size() + all[31].size(), 423u);
    fake.FailAlways("CreateFileW", 2);
    EXPECT_EQ(monitor->GetNowSmartAttr(all), 0);
}

TEST_F(SmartMonitor, CheckTimeIsWidenedWithItsSignAndTheObserverIsReadEachCycle) {
    monitor->EnableCheck(1);
    monitor->EnableCheck(1);  // one worker
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    monitor->SetCheckTime(-32768);  // used by the next wait
    Elapse(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(2));  // the first cycle is over
    monitor->SetObserver(nullptr);
    Elapse(2);
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));
    EXPECT_EQ(observer.Count(), 1u);
    monitor->SetObserver(&observer);
    Elapse(3);
    ASSERT_TRUE(observer.AwaitCalls(2));
    EXPECT_EQ(monitor->EnableCheck(0), 0);
    monitor.reset();
    EXPECT_EQ(Waits(), (std::vector<std::uint64_t>{1000, 0xFFFF8000u, 0xFFFF8000u, 0xFFFF8000u}));
}

TEST_F(SmartMonitor, AssigningOverARunningMonitorMovesItsWorkerToTheNewRecord) {
    AddDisk(0);
    Observer newObserver;
    monitor->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    HddSmartInfo source;
    source.SetObserver(&newObserver);
    source.AddCheckDisk(0);
    const HddSmartInfo copy(source);  // a sharer of the record, destroyed before its source
    *monitor = source;
    monitor->operator=(*monitor);  // self-assignment changes nothing
    Elapse(2, &newObserver);       // the restarted worker
    EXPECT_EQ(newObserver.At(0), std::make_tuple(monitor.get(), Disks{0}));
    monitor.reset();
    EXPECT_EQ(observer.Count(), 0u);
    EXPECT_EQ(CycleWaits(), 3);
    {
        HddSmartInfo stopped;  // a disabled monitor is not restarted by an assignment
        stopped.EnableCheck(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(3));
        stopped.EnableCheck(0);
        stopped = source;
    }
    EXPECT_EQ(CycleWaits(), 4);
}

// Assigns another monitor to the one that calls it, from inside the callback: the worker
// finishes its cycle on the record it kept alive.
struct ReassigningObserver : Observer {
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        *info = HddSmartInfo();
        Observer::OnSmartAttrUpdate(info);
    }
};

// Meant for the sanitizers as much as for its check.
TEST_F(SmartMonitor, AWorkerKeepsItsRecordWhenTheObserverReplacesIt) {
    AddDisk(0);
    ReassigningObserver reassigning;
    monitor->SetObserver(&reassigning);
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    Elapse(1, &reassigning);
    monitor.reset();
    EXPECT_EQ(CycleWaits(), 2);  // the worker did not go on with the new record
}

}  // namespace
}  // namespace Ovra
