// The JSON of readings and events as every consumer sees it, and events kept beside readings in
// one health log.
#include "tests/support/ScratchDir.h"

#include "tools/ovractl/HealthJson.h"
#include "tools/ovractl/HealthLog.h"
#include "tools/ovractl/Output.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using nlohmann::json;
using ovractl::Utf8;

std::string Kind(int kind) {
    return Utf8(DiskSelfTestKindName(kind));
}

std::string Result(int result) {
    return Utf8(DiskSelfTestResultName(result));
}

TEST(HealthJson, SelfTestsAndDeviceLogOfReadings) {
    DiskHealth bare, tested = bare;
    tested.selfTests = {{DiskSelfTest::Extended, DiskSelfTest::ReadFailure, 1201, 4660},
                        {DiskSelfTest::Short, DiskSelfTest::Passed, 1200, kHealthAbsent},
                        {DiskSelfTest::Offline, DiskSelfTest::Aborted, kHealthAbsent, 0}};
    tested.selfTestInProgress = 0;
    tested.errorLogCount = 0;
    const struct {
        const DiskHealth& health;
        json expected;  // the fields the device's logs fill
    } cases[] = {
        {bare,
         {{"selfTests", json::array()},
          {"selfTestInProgress", nullptr},
          {"errorLogCount", nullptr}}},
        {tested,
         {{"selfTests",
           {{{"kind", Kind(2)},
             {"result", Result(7)},
             {"powerOnHours", 1201},
             {"failingLba", 4660}},
            {{"kind", Kind(1)},
             {"result", Result(0)},
             {"powerOnHours", 1200},
             {"failingLba", nullptr}},
            {{"kind", Kind(0)},
             {"result", Result(1)},
             {"powerOnHours", nullptr},
             {"failingLba", 0}}}},
          {"selfTestInProgress", 0},
          {"errorLogCount", 0}}},
    };
    for (const auto& c : cases) {
        const json out = ovractl::DiskHealthJson(7, c.health);
        EXPECT_EQ(out["disk"], 7);
        for (const auto& field : c.expected.items())
            EXPECT_EQ(out[field.key()], field.value()) << field.key();
    }
}

TEST(HealthJson, WatchEvents) {
    DiskHealthEvent changed, test;
    changed = {DiskHealthEvent::VerdictChanged, 1700000000123, 2, L"Good", L"Warning",
               L"8 reallocated sectors"};
    test.time = 5;
    const std::string changedName = Utf8(DiskHealthEventName(DiskHealthEvent::VerdictChanged));
    EXPECT_EQ(ovractl::WatchEventJson(changed), json({{"time", 1700000000123},
                                                      {"disk", 2},
                                                      {"event", changedName},
                                                      {"from", "Good"},
                                                      {"to", "Warning"},
                                                      {"detail", "8 reallocated sectors"}}));
    EXPECT_EQ(ovractl::WatchEventJson(test), json({{"time", 5},
                                                   {"disk", -1},
                                                   {"event", Utf8(DiskHealthEventName(10))},
                                                   {"from", nullptr},
                                                   {"to", nullptr},
                                                   {"detail", nullptr}}));
}

TEST(HealthLog, EventsBesideReadings) {
    testing_support::ScratchDir scratch("health-events");
    ovractl::HealthLog log;
    ASSERT_EQ(log.Open(scratch.WidePath("health.db")), 0);
    DiskHealth reading;
    reading.verdict = DiskHealth::Warning;
    const DiskHealthEvent events[] = {
        {DiskHealthEvent::TemperatureHigh, 3000, 0, L"49", L"51", L""},
        {DiskHealthEvent::DiskRemoved, 1000, 1, L"", L"", L""},
        {DiskHealthEvent::CounterIncreased, 2000, 0, L"4", L"8", L"5 Reallocated\tSectors"},
    };
    for (const DiskHealthEvent& e : events) ASSERT_EQ(log.RecordEvent(e), 0);
    ASSERT_EQ(log.Record(1500, 0, reading), 0);

    std::vector<ovractl::HealthSample> samples;
    ASSERT_EQ(log.History(-1, -1, samples), 0);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].verdict, L"Warning");
    std::vector<DiskHealthEvent> read;
    ASSERT_EQ(log.Events(0, read), 0);
    ASSERT_EQ(read.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const DiskHealthEvent& want = events[2 - 2 * i];  // by time
        EXPECT_EQ(std::vector<long long>({read[i].type, read[i].time, read[i].disk}),
                  std::vector<long long>({want.type, want.time, want.disk}));
        EXPECT_EQ(read[i].from + L"|" + read[i].to + L"|" + read[i].detail,
                  want.from + L"|" + want.to + L"|" + want.detail);
    }
}

}  // namespace
}  // namespace Ovra
