// Against a real NTP server, chronyd on loopback: the client alone, and the whole chain from the
// service through the real libntp to the test clock. The real clock is never touched.
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/support/ChronyServer.h"
#include "tests/timesync/RecordingObserver.h"

#include <chrono>

namespace Ovra {
namespace {

using NtpTest::ChronyServer;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// chronyd serves this machine's clock, so the true offset is zero. The bound is loose enough for a
// loaded machine; the accuracy itself is measured by ntp_accuracy_bench.
constexpr double kBoundMs = 50.0;

TEST(ChronyTest, ClientAcceptsRepliesOverIpv4AndIpv6AndRejectsAnUnsynchronisedServer) {
    ChronyServer server, unsynchronised;
    std::string error;
    if (!server.Start(true, error) || !unsynchronised.Start(false, error)) GTEST_SKIP() << error;
    for (const std::wstring& address : {server.Ipv4(), server.Ipv6()}) {
        NtpResult result;
        ASSERT_EQ(NTP_OK, GetNtpTimeEx(address.c_str(), 3000, &result)) << result.address;
        EXPECT_NEAR(static_cast<double>(NowMs()), static_cast<double>(result.timeMs), kBoundMs);
        EXPECT_NEAR(0.0, result.offsetNs / 1e6, kBoundMs);
        EXPECT_LT(result.delayNs, 1000000000LL);
        EXPECT_EQ((std::vector<int>{8, 0, 4}),
                  (std::vector<int>{result.stratum, result.leap, result.version}));
    }
    NtpResult result;
    EXPECT_EQ(NTP_E_UNSYNCHRONIZED, GetNtpTimeEx(unsynchronised.Ipv4().c_str(), 3000, &result));
    EXPECT_EQ(3, result.leap);
}

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

TEST(ChronyTest, ServiceSetsTheTestClockThroughTheRealLibrary) {
    ChronyServer server;
    std::string error;
    if (!server.Start(true, error)) GTEST_SKIP() << error;
    RealLibraryPlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.SetTime(1000);  // far from the server's time
    testing_timesync::RecordingObserver observer;
    TimeSyncService service;
    service.SetObserver(&observer);
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(fakes::NtpLibraryPath(), fake.CallsNamed("LoadLibraryW").at(0).text);
    ASSERT_EQ(0, service.Start());
    const long long before = NowMs();
    service.SyncTimeServerNow(server.Ipv4());
    ASSERT_TRUE(observer.AwaitCalls(2));
    const long long after = NowMs();
    service.Stop();
    const testing_timesync::Notifications calls = observer.Calls();
    const long long time = std::get<1>(calls.at(0));
    EXPECT_EQ(
        (testing_timesync::Notifications{{1901, time, server.Ipv4()}, {0, time, server.Ipv4()}}),
        calls);
    EXPECT_GE(time, before - 1000);  // within the query, give or take
    EXPECT_LE(time, after + 1000);
    EXPECT_EQ((std::vector<long long>{time}), fake.ClockSets());
}

}  // namespace
}  // namespace Ovra
