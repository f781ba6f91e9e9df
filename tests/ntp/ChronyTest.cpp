// The client against a real NTP server, chronyd, on loopback.

#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "tests/support/ChronyServer.h"

#include <chrono>
#include <memory>

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

class ChronyTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ChronyServer>();
        if (!s_server->Start(true, s_error)) s_server.reset();
    }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override {
        if (!s_server) GTEST_SKIP() << s_error;
    }

    static std::unique_ptr<ChronyServer> s_server;
    static std::string s_error;
};

std::unique_ptr<ChronyServer> ChronyTest::s_server;
std::string ChronyTest::s_error;

TEST_F(ChronyTest, AcceptsRepliesOverIpv4AndIpv6) {
    for (const std::wstring& address : {s_server->Ipv4(), s_server->Ipv6()}) {
        NtpResult result;
        ASSERT_EQ(NTP_OK, GetNtpTimeEx(address.c_str(), 3000, &result)) << result.address;
        EXPECT_NEAR(static_cast<double>(NowMs()), static_cast<double>(result.timeMs), kBoundMs);
        EXPECT_NEAR(0.0, result.offsetNs / 1e6, kBoundMs);
        EXPECT_LT(result.delayNs, 1000000000LL);
        EXPECT_EQ(8, result.stratum);
        EXPECT_EQ(0, result.leap);
        EXPECT_EQ(4, result.version);
    }
    long long time = 0;
    ASSERT_EQ(NTP_OK, GetNtpTime(s_server->Ipv4(), time));
    EXPECT_NEAR(static_cast<double>(NowMs()), static_cast<double>(time), kBoundMs);
}

TEST(ChronyUnsynchronisedTest, IsRejected) {
    ChronyServer server;
    std::string error;
    if (!server.Start(false, error)) GTEST_SKIP() << error;
    NtpResult result;
    EXPECT_EQ(NTP_E_UNSYNCHRONIZED, GetNtpTimeEx(server.Ipv4().c_str(), 3000, &result));
    EXPECT_EQ(3, result.leap);
}

}  // namespace
