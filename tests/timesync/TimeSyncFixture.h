#pragma once

#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/timesync/RecordingObserver.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Ovra {
namespace testing_timesync {

using fakes::FakePlatform;
using fakes::NtpLibraryPath;
using fakes::ScriptedNtp;
using Names = std::vector<std::wstring>;
using Timeouts = std::vector<std::uint64_t>;
using Times = std::vector<long long>;

const std::uint64_t kHour = 3600000;
const std::uint64_t kPause = 10000;

// Opens the protected operations to the tests.
class ProbeService : public TimeSyncService {
public:
    ~ProbeService() override { StopThread(kInfinite, 1); }  // as every derived service must
    using TimeSyncService::GetNetworkTime;
    using TimeSyncService::SetSystemTime;
};

// The fake, with a hook that runs just before the clock is set.
class ClockFake : public FakePlatform {
public:
    std::function<void()> beforeClockSet;
    int SetCurTime(long long time) override {
        if (beforeClockSet) beforeClockSet();
        return FakePlatform::SetCurTime(time);
    }
};

// A service over the scripted libntp, with the test clock and the wait gate: every finite wait of
// the worker blocks until the test lets it time out.
class TimeSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        Ntp().Reset();
        fake.AddModule(NtpLibraryPath(), ScriptedNtp::Module());
        fake.EnableWaitGate(true);
        service.SetObserver(&observer);
    }
    ScriptedNtp& Ntp() { return ScriptedNtp::Instance(); }

    // Creates and starts the service and returns once the worker is in its first wait.
    void StartService() {
        ASSERT_EQ(0, service.Create());
        ASSERT_EQ(0, service.Start());
        ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    }
    // Lets the current gated wait time out and returns once the worker is in gated wait `n`.
    void ElapseUntilWait(std::uint64_t n) {
        fake.Gate().Elapse(1);
        ASSERT_TRUE(fake.Gate().AwaitEntered(n));
    }
    // The time-outs of the worker's waits on its handle pairs, in order.
    Timeouts WaitTimeouts() const {
        Timeouts timeouts;
        for (const fakes::Call& call : fake.CallsNamed("WaitForMultipleObjects"))
            if (call.args[0] == 2) timeouts.push_back(call.args[2]);
        return timeouts;
    }

    ClockFake fake;
    platform::ScopedPlatform scope{fake};
    RecordingObserver observer;
    ProbeService service;
};

}  // namespace testing_timesync
}  // namespace Ovra
