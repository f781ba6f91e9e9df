// The whole chain: the service loads the real libntp from its own folder and sets the test
// clock from chronyd on loopback. The real clock is never touched.
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>

#include "RecordingObserver.h"
#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/support/ChronyServer.h"

#include <chrono>
#include <string>
#include <vector>

namespace Ovra {
namespace testing_timesync {
namespace {

// The fake's test clock and recording, with real run-time loading.
class RealLibraryPlatform : public fakes::FakePlatform {
public:
    platform::Module LoadLibraryW(const wchar_t* path) override {
        FakePlatform::LoadLibraryW(path);  // recorded; it knows no such module
        return Target().LoadLibraryW(path);
    }
    void* GetProcAddress(platform::Module module, const char* name) override {
        return Target().GetProcAddress(module, name);
    }
    int FreeLibrary(platform::Module module) override { return Target().FreeLibrary(module); }
};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(TimeSyncChainTest, SetsTheTestClockFromALoopbackServer) {
    NtpTest::ChronyServer server;
    std::string error;
    if (!server.Start(true, error)) GTEST_SKIP() << error;

    RealLibraryPlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.SetTime(1000);  // far from the server's time
    RecordingObserver observer;
    TimeSyncService service;
    service.SetObserver(&observer);
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(fakes::NtpLibraryPath(), fake.CallsNamed("LoadLibraryW").at(0).text);
    ASSERT_EQ(0, service.Start());

    const long long before = NowMs();
    service.SetScheduleTimeServer({server.Ipv4()});
    service.SyncTimeServerNow();
    ASSERT_TRUE(observer.AwaitCalls(2));
    const long long after = NowMs();
    service.Stop();

    const Notifications calls = observer.Calls();
    ASSERT_EQ((std::vector<int>{1901, 0}), observer.Codes());
    const long long time = std::get<1>(calls[1]);
    EXPECT_EQ(server.Ipv4(), std::get<2>(calls[1]));
    // chronyd serves this machine's clock: the time lies within the query, give or take.
    EXPECT_GE(time, before - 1000);
    EXPECT_LE(time, after + 1000);
    EXPECT_EQ((std::vector<long long>{time}), fake.ClockSets());
    EXPECT_EQ(time, fake.Time());
}

}  // namespace
}  // namespace testing_timesync
}  // namespace Ovra
