// Against a real NTP server, chronyd on loopback: the whole chain from the service through the real
// libntp to the test clock, over IPv4 and IPv6. The real clock is never touched. (What chronyd
// sends while unsynchronised is a case of NtpWireTest.)
#include <Ovra/TimeSyncService.h>
#include <gtest/gtest.h>

#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/support/ChronyServer.h"

#include <chrono>

namespace Ovra {
namespace {

// The fake's test clock and recording, with real run-time loading.
struct RealLibraryPlatform : fakes::FakePlatform {
    fakes::Module LoadLibraryW(const wchar_t* path) override { return Target().LoadLibraryW(path); }
    void* GetProcAddress(fakes::Module module, const char* name) override {
        return Target().GetProcAddress(module, name);
    }
    int FreeLibrary(fakes::Module module) override { return Target().FreeLibrary(module); }
};

TEST(ChronyTest, ServiceSetsTheTestClockThroughTheRealLibrary) {
    NtpTest::ChronyServer server;
    std::string error;
    if (!server.Start(true, error)) GTEST_SKIP() << error;
    RealLibraryPlatform fake;
    platform::ScopedPlatform scope(fake);
    TimeSyncService service;
    ASSERT_EQ(0, service.Create());
    ASSERT_EQ(0, service.Start());
    for (const std::wstring& address : {server.Ipv4(), server.Ipv6()}) {
        fakes::TimeObserver observer;
        service.SetObserver(&observer);
        service.SyncTimeServerNow(address);
        ASSERT_TRUE(observer.AwaitCalls(2));
        service.SetObserver(nullptr);  // waits for the call to return
        const long long time = std::get<1>(observer.At(0));
        EXPECT_EQ(
            (std::vector<fakes::TimeObserver::Entry>{{1901, time, address}, {0, time, address}}),
            observer.Calls());
        // chronyd serves this machine's clock; loose for a loaded machine.
        using Ms = std::chrono::duration<double, std::milli>;
        EXPECT_NEAR(std::chrono::system_clock::now().time_since_epoch() / Ms(1), time, 1000.0);
        EXPECT_EQ(time, fake.ClockSets().back());
    }
}

}  // namespace
}  // namespace Ovra
