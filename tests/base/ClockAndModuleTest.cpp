#include <Ovra/Bases/Clock.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <ctime>

namespace Ovra {
namespace {

TEST(Clock, RealClockIsMillisecondsSinceTheUnixEpoch) {
    EXPECT_NEAR(static_cast<double>(GetCurTime()), std::time(nullptr) * 1000.0, 2000.0);
}

// Their exact answers: what reaches the seam, and what a failure does, the time-sync service shows.
TEST(Clock, SettersAnswerOneOrZero) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.FailCall("SetTimeZone", 2, platform::kErrorAccessDenied);
    const TimeZone zone{};
    EXPECT_EQ((std::vector<int>{SetCurTime(5), SetTimeZone(zone), SetTimeZone(zone)}),
              (std::vector<int>{1, 1, 0}));
}

}  // namespace
}  // namespace Ovra
