#include <Ovra/Bases/Event.h>
#include <Ovra/Bases/Thread.h>

#include "base/platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>

namespace Ovra {
namespace {

bool WaitFor(Event& event) {
    void* handle = event.GetHandle();
    return platform::Sys().WaitForMultipleObjects(1, &handle, 0, 10000) == 0;
}

// A worker that reports what its two waits saw; with `stopSelf`, it stops itself first.
class Probe : public Thread {
public:
    std::atomic<int> firstWait{-1}, secondWait{-1}, selfStop{-1};
    Event started, done;
    unsigned int waitMs = kInfinite;
    int allowStart = 1;
    bool stopSelf = false;

    Probe() { started.Create(1, 0, nullptr), done.Create(1, 0, nullptr); }
    ~Probe() override { StopThread(kInfinite, 1); }
    int OnPreThreadStart() override { return allowStart; }
    unsigned int OnThreadEntry() override {
        if (stopSelf) selfStop = StopThread(kInfinite, 1);  // must not wait for itself
        started.Set();
        firstWait = IsStopThread(waitMs);
        secondWait = IsStopThread(waitMs);
        done.Set();
        return 0;
    }
};

TEST(Thread, StopRequestStaysSignalledStopWaitsForTheEndAndRestartClearsIt) {
    Probe probe;
    EXPECT_NE(probe.StopThread(kInfinite, 1), 0);  // never started: returns at once
    probe.waitMs = 0;
    ASSERT_NE(probe.StartThread(0), 0);  // the request made before the start is cleared
    ASSERT_TRUE(WaitFor(probe.done));
    probe.StopThread(kInfinite, 1);
    EXPECT_EQ(probe.firstWait, 0);
    probe.waitMs = kInfinite;
    ASSERT_NE(probe.StartThread(0), 0);
    ASSERT_TRUE(WaitFor(probe.started));
    EXPECT_NE(probe.IsThreadRunning(), 0);
    EXPECT_EQ(probe.StartThread(0), 0);  // one worker at a time
    EXPECT_NE(probe.StopThread(kInfinite, 1), 0);
    EXPECT_EQ(probe.firstWait + probe.secondWait, 2);  // both saw the one request, then it ended
    EXPECT_EQ(probe.IsThreadRunning() * 10 + probe.StopThread(0, 0), 1);  // ended: no need to wait
    EXPECT_NE(probe.IsStopThread(0), 0);
    probe.allowStart = 0;  // the pre-start hook may refuse
    EXPECT_EQ(probe.StartThread(0) + probe.IsThreadRunning(), 0);
    probe.allowStart = 1;
    probe.stopSelf = true;
    ASSERT_NE(probe.StartThread(0), 0);
    probe.StopThread(kInfinite, 1);
    EXPECT_EQ(probe.selfStop, 0);
}

// The worker destroys the object whose body it runs, and must finish on a live record
// (AddressSanitizer watches).
struct SelfDestroyer : Thread {
    explicit SelfDestroyer(Event& gone) : gone(gone) {}
    ~SelfDestroyer() override {
        StopThread(kInfinite, 1);  // as every owner does: here the worker itself
        gone.Set();
    }
    unsigned int OnThreadEntry() override {
        IsStopThread(0);
        delete this;
        return 0;
    }
    Event& gone;
};

TEST(Thread, AWorkerMayDestroyItsOwnThreadObject) {
    Event created, gone;
    // Named events are refused.
    EXPECT_EQ(created.Create(1, 0, L"named") * 10 + created.Create(1, 0, nullptr), 1);
    gone = created;  // a second handle of the same event
    for (int i = 0; i < 20; ++i) {
        gone.Reset();
        ASSERT_NE((new SelfDestroyer(gone))->StartThread(0), 0);
        ASSERT_TRUE(WaitFor(gone));
    }
}

}  // namespace
}  // namespace Ovra
