// Against a real NTP server, chronyd on loopback: the client alone, and the whole chain from the
// service through the real libntp to the test clock. The real clock is never touched.
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/TimeObserver.h"
#include "tests/support/ChronyServer.h"

#include <chrono>

namespace Ovra {
namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// chronyd serves this machine's clock, so the true offset is zero; loose for a loaded machine.
constexpr double kBoundMs = 50.0;

TEST(ChronyTest, ClientAcceptsRepliesOverIpv4AndIpv6AndRejectsAnUnsynchronisedServer) {
    NtpTest::ChronyServer server, unsynchronised;
    std::string error;
    if (!server.Start(true, error) || !unsynchronised.Start(false, error)) GTEST_SKIP() << error;
    for (const std::wstring& address : {server.Ipv4(), server.Ipv6()}) {
        NtpResult result;
        ASSERT_EQ(NTP_OK, GetNtpTimeEx(address.c_str(), 3000, &result)) << result.address;
        EXPECT_NEAR(NowMs(), static_cast<double>(result.timeMs), kBoundMs);
        EXPECT_NEAR(0.0, result.offsetNs / 1e6, kBoundMs);
        EXPECT_EQ((std::vector<int>{8, 0, 4}),
                  (std::vector<int>{result.stratum, result.leap, result.version}));
    }
    NtpResult result;
    EXPECT_EQ(NTP_E_UNSYNCHRONIZED, GetNtpTimeEx(unsynchronised.Ipv4().c_str(), 3000, &result));
}

// The fake's test clock and recording, with real run-time loading.
struct RealLibraryPlatform : fakes::FakePlatform {
    platform::Module LoadLibraryW(const wchar_t* path) override {
        FakePlatform::LoadLibraryW(path);  // recorded; it knows no such module
        return Target().LoadLibraryW(path);
    }
    void* GetProcAddress(platform::Module module, const char* name) override {
        return Target().GetProcAddress(module, name);
    }
    int FreeLibrary(platform::Module module) override { return Target().FreeLibrary(module); }
};

using Observer = fakes::TimeObserver;

TEST(ChronyTest, ServiceSetsTheTestClockThroughTheRealLibrary) {
    NtpTest::ChronyServer server;
    std::string error;
    if (!server.Start(true, error)) GTEST_SKIP() << error;
    RealLibraryPlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.SetTime(1000);  // far from the server's time
    Observer observer;
    TimeSyncService service;
    service.SetObserver(&observer);
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(0, service.Start());
    service.SyncTimeServerNow(server.Ipv4());
    ASSERT_TRUE(observer.AwaitCalls(2));
    service.Stop();
    const long long time = std::get<1>(observer.At(0));
    EXPECT_EQ((std::vector<Observer::Entry>{{1901, time, server.Ipv4()}, {0, time, server.Ipv4()}}),
              observer.Calls());
    EXPECT_NEAR(NowMs(), static_cast<double>(time), 1000.0);
    EXPECT_EQ((std::vector<long long>{time}), fake.ClockSets());
}

}  // namespace
}  // namespace Ovra
