#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/ModuleDir.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <ctime>
#include <cwchar>
#include <fstream>

namespace Ovra {
namespace {

TEST(Clock, RealClockIsMillisecondsSinceTheUnixEpoch) {
    EXPECT_NEAR(static_cast<double>(GetCurTime()), std::time(nullptr) * 1000.0, 2000.0);
}

TEST(Clock, SettingTheClockAndZoneGoesThroughTheSeam) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope(fake);
    EXPECT_NE(SetCurTime(1700000000123LL), 0);
    EXPECT_EQ(GetCurTime(), 1700000000123LL);
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_NE(SetTimeZone(zone), 0);
    EXPECT_EQ(fake.ZoneSets(), std::vector<std::wstring>{L"Europe/Berlin"});
    fake.FailAlways("SetCurTime", platform::kErrorAccessDenied);
    fake.FailAlways("SetTimeZone", platform::kErrorAccessDenied);
    EXPECT_EQ(SetCurTime(5) + SetTimeZone(zone), 0);
    EXPECT_EQ(fake.ClockSets(), std::vector<long long>{1700000000123LL});
}

TEST(ModuleDir, IsTheFolderOfTheCallingModuleWithoutTrailingSeparator) {
    std::wstring dir;
    ASSERT_NE(GetModuleDir(dir), 0);
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.find_last_of(L"/\\"), dir.size() - 1);
#if defined(_WIN32)  // the test executable and the base library share a folder
    EXPECT_TRUE(std::ifstream(testing_support::ExecutableDir() + "Ovra-Bases.dll").good());
#else
    EXPECT_TRUE(std::ifstream(testing_support::ExecutableDir() + "libOvra-Bases.so").good());
#endif
}

}  // namespace
}  // namespace Ovra
