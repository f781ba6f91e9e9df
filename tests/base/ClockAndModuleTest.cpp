#include <Ovra/Bases/Clock.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <ctime>
#include <cwchar>

namespace Ovra {
namespace {

TEST(Clock, RealClockIsMillisecondsSinceTheUnixEpoch) {
    EXPECT_NEAR(static_cast<double>(GetCurTime()), std::time(nullptr) * 1000.0, 2000.0);
}

TEST(Clock, SettingTheClockAndZoneGoesThroughTheSeam) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope(fake);
    EXPECT_EQ(SetCurTime(1700000000123LL), 1);
    EXPECT_EQ(GetCurTime(), 1700000000123LL);
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_EQ(SetTimeZone(zone), 1);
    EXPECT_EQ(fake.ZoneSets(), std::vector<std::wstring>{L"Europe/Berlin"});
    fake.FailAlways("SetCurTime", platform::kErrorAccessDenied);
    fake.FailAlways("SetTimeZone", platform::kErrorAccessDenied);
    EXPECT_EQ(SetCurTime(5) + SetTimeZone(zone), 0);
    EXPECT_EQ(fake.ClockSets(), std::vector<long long>{1700000000123LL});
}

}  // namespace
}  // namespace Ovra
