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
    const long long seconds = static_cast<long long>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(GetCurTime()), seconds * 1000.0, 2000.0);
}

TEST(Clock, SettingTheClockAndZoneGoesThroughTheSeam) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.SetTime(1234);
    EXPECT_EQ(GetCurTime(), 1234);
    EXPECT_NE(SetCurTime(1700000000123LL), 0);
    EXPECT_EQ(GetCurTime(), 1700000000123LL);
    TimeZone zone{};
    std::wcsncpy(zone.keyName, L"Europe/Berlin", 127);
    EXPECT_NE(SetTimeZone(zone), 0);
    EXPECT_EQ(fake.ZoneSets(), std::vector<std::wstring>{L"Europe/Berlin"});
    fake.FailAlways("SetCurTime", platform::kErrorAccessDenied);
    fake.FailAlways("SetTimeZone", platform::kErrorAccessDenied);
    EXPECT_EQ(SetCurTime(5), 0);
    EXPECT_EQ(SetTimeZone(zone), 0);
    EXPECT_EQ(fake.ClockSets(), std::vector<long long>{1700000000123LL});
}

TEST(ModuleDir, IsTheFolderOfTheCallingModuleWithoutTrailingSeparator) {
    std::wstring dir;
    ASSERT_NE(GetModuleDir(dir), 0);
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.find_last_of(L"/\\"), dir.size() - 1);
    // The test executable and the base library are built into the same folder.
#if defined(_WIN32)
    std::ifstream library(testing_support::ExecutableDir() + "Ovra-Bases.dll");
#else
    std::ifstream library(testing_support::ExecutableDir() + "libOvra-Bases.so");
#endif
    EXPECT_TRUE(library.good());
}

}  // namespace
}  // namespace Ovra
