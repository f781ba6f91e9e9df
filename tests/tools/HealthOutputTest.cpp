// The JSON of readings and events as every consumer sees it, and events kept beside readings in
// one health log.
#include "tests/support/ScratchDir.h"

#include "tools/ovractl/HealthJson.h"
#include "tools/ovractl/HealthLog.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using nlohmann::json;

TEST(HealthJson, SelfTestsAndDeviceLogOfReadings) {
    DiskHealth bare, tested = bare;
    tested.selfTests = {{DiskSelfTest::Extended, DiskSelfTest::ReadFailure, 1201, 4660},
                        {DiskSelfTest::Short, DiskSelfTest::Passed, 1200, kHealthAbsent},
                        {DiskSelfTest::Offline, DiskSelfTest::Aborted, kHealthAbsent, 0}};
    tested.selfTestInProgress = tested.errorLogCount = 0;
    const std::pair<const DiskHealth&, const char*> cases[] = {
        // the fields the device's logs fill
        {bare, R"({"selfTests": [], "selfTestInProgress": null, "errorLogCount": null})"},
        {tested, R"({"selfTests": [
        {"kind": "extended", "result": "read failure", "powerOnHours": 1201, "failingLba": 4660},
        {"kind": "short", "result": "passed", "powerOnHours": 1200, "failingLba": null},
        {"kind": "offline", "result": "aborted", "powerOnHours": null, "failingLba": 0}],
        "selfTestInProgress": 0, "errorLogCount": 0})"}};
    for (const auto& [health, expected] : cases) {
        const json out = ovractl::DiskHealthJson(7, health), fields = json::parse(expected);
        EXPECT_EQ(out["disk"], 7);
        for (const auto& field : fields.items())
            EXPECT_EQ(out[field.key()], field.value()) << field.key();
    }
}

TEST(HealthJson, WatchEvents) {
    const DiskHealthEvent changed{
        DiskHealthEvent::VerdictChanged, 1700000000123, 2, L"Good", L"Warning",
        L"8 reallocated sectors"};
    DiskHealthEvent test;
    test.time = 5;
    EXPECT_EQ(ovractl::WatchEventJson(changed), json::parse(R"({"time": 1700000000123, "disk": 2,
        "event": "verdict-changed", "from": "Good", "to": "Warning",
        "detail": "8 reallocated sectors"})"));
    EXPECT_EQ(ovractl::WatchEventJson(test), json::parse(R"({"time": 5, "disk": -1,
        "event": "test", "from": null, "to": null, "detail": null})"));
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
    const auto text = [](const DiskHealthEvent& e) {
        return std::to_wstring(e.type) + L" " + std::to_wstring(e.time) + L" " +
               std::to_wstring(e.disk) + L"|" + e.from + L"|" + e.to + L"|" + e.detail;
    };
    std::vector<std::wstring> texts;
    for (const DiskHealthEvent& e : read) texts.push_back(text(e));
    EXPECT_EQ(texts, (std::vector<std::wstring>{text(events[2]), text(events[0])}));  // by time
}

}  // namespace
}  // namespace Ovra
