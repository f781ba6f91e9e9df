// Copies share one state record; these cases copy, assign and destroy monitors while workers run.
// They are meant to be run under AddressSanitizer (use after free, double free, leaks) and
// ThreadSanitizer (races on the record and on the monitor objects).

#include "smart/SmartTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using testing_smart::AddDisk;
using testing_smart::CycleWaits;
using testing_smart::Readings;
using testing_smart::RecordingObserver;

// Waits the workers made before their cycles (the default 1000 ms); other waits are the library
// peeking at stop requests.
size_t CheckWaits(const FakePlatform& fake) {
    const std::vector<std::uint64_t> waits = CycleWaits(fake);
    return static_cast<size_t>(std::count(waits.begin(), waits.end(), 1000u));
}

class SmartLifetime : public ::testing::Test {
protected:
    SmartLifetime() {
        fake.EnableWaitGate(true);
        AddDisk(fake, 0);
    }

    // Lets one gated wait run out, so one cycle runs.
    void LetOneCycleRun(std::uint64_t waitsEntered) {
        ASSERT_TRUE(fake.Gate().AwaitEntered(waitsEntered));
        fake.Gate().Elapse(1);
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    RecordingObserver observer;
};

TEST_F(SmartLifetime, ACopyOfARunningMonitorOutlivesItsSource) {
    auto source = std::make_unique<HddSmartInfo>();
    source->SetObserver(&observer);
    source->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    HddSmartInfo copy(*source);
    source.reset();  // stops and joins the source's worker only

    copy.AddCheckDisk(0);
    copy.EnableCheck(1);
    LetOneCycleRun(2);
    ASSERT_TRUE(observer.AwaitCalls(1));
    EXPECT_EQ(observer.CallerAt(0), &copy);
    Readings attrs;
    EXPECT_EQ(copy.GetSmartAttr(0, attrs), 0);
}

TEST_F(SmartLifetime, ARunningMonitorKeepsWorkingAfterItsCopiesAreGone) {
    HddSmartInfo monitor;
    monitor.SetObserver(&observer);
    monitor.EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    {
        HddSmartInfo copy(monitor);
        HddSmartInfo assigned;
        assigned = monitor;
        assigned.AddCheckDisk(0);
    }
    LetOneCycleRun(1);
    ASSERT_TRUE(observer.AwaitCalls(1));
    Readings attrs;
    EXPECT_EQ(monitor.GetSmartAttr(0, attrs), 0);
}

TEST_F(SmartLifetime, AssigningOverARunningMonitorMovesItsWorkerToTheNewRecord) {
    RecordingObserver oldObserver;
    auto target = std::make_unique<HddSmartInfo>();
    target->SetObserver(&oldObserver);
    target->AddCheckDisk(0);
    target->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));

    HddSmartInfo source;
    source.SetObserver(&observer);
    source.AddCheckDisk(0);
    *target = source;            // the old record has no other owner: it goes now
    target->operator=(*target);  // self-assignment changes nothing

    LetOneCycleRun(2);  // the restarted worker's first wait
    ASSERT_TRUE(observer.AwaitCalls(1));
    EXPECT_EQ(observer.CallerAt(0), target.get());
    EXPECT_EQ(observer.SnapshotAt(0).size(), 1u);
    target.reset();
    EXPECT_EQ(oldObserver.Calls(), 0u);
    EXPECT_EQ(CheckWaits(fake), 3u);  // old worker 1, new worker 2 (the last saw the stop)
}

TEST_F(SmartLifetime, AssigningOverADisabledMonitorDoesNotRestartIt) {
    auto target = std::make_unique<HddSmartInfo>();
    target->EnableCheck(1);
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    target->EnableCheck(0);
    HddSmartInfo source;
    *target = source;
    target.reset();
    EXPECT_EQ(CheckWaits(fake), 1u);
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

TEST_F(SmartLifetime, AssignmentFromInsideTheObserverStopsTheWorkerSafely) {
    HddSmartInfo replacement;
    ReassigningObserver reassigning(replacement);
    auto monitor = std::make_unique<HddSmartInfo>();
    monitor->SetObserver(&reassigning);
    monitor->AddCheckDisk(0);
    monitor->EnableCheck(1);
    LetOneCycleRun(1);
    ASSERT_TRUE(reassigning.done.AwaitCalls(1));
    monitor.reset();  // the worker finished its cycle on the record it kept alive
    EXPECT_EQ(CheckWaits(fake), 2u);
    EXPECT_EQ(reassigning.done.Calls(), 1u);
}

TEST_F(SmartLifetime, DestroyingSharersInEveryOrderWhileWorkersRun) {
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
