#include "src/watch/DiskChanges.h"

#include <Ovra/ResultCodes.h>

#include <climits>

namespace Ovra {
namespace watch {

namespace {

using Event = DiskHealthEvent;

// The ATA attribute behind each rising value; 0 for the two that are not attributes.
const int kAttributeIds[kRisingCount] = {5, 187, 188, 197, 198, 0, 0};
const std::size_t kMediaErrors = 5;
const std::size_t kErrorLog = 6;

void Values(const DiskHealth& health, long long (&values)[kRisingCount]) {
    const unsigned long long media = health.nvme.mediaErrors;
    const long long all[kRisingCount] = {health.reallocatedSectors,
                                         health.reportedUncorrectable,
                                         health.commandTimeouts,
                                         health.pendingSectors,
                                         health.offlineUncorrectable,
                                         !health.hasNvmeLog  ? kHealthAbsent
                                         : media > LLONG_MAX ? LLONG_MAX
                                                             : static_cast<long long>(media),
                                         health.errorLogCount};
    for (std::size_t i = 0; i < kRisingCount; ++i) values[i] = all[i];
}

std::wstring ValueName(std::size_t i) {
    if (i == kMediaErrors) return L"media errors";
    if (i == kErrorLog) return std::wstring();
    return std::to_wstring(kAttributeIds[i]) + L" " + SmartAttributeName(kAttributeIds[i]);
}

int Heat(int temperature, const TemperatureLimits& limits) {
    if (limits.critical > 0 && temperature > limits.critical) return 2;
    if (limits.warning > 0 && temperature > limits.warning) return 1;
    return 0;
}

std::wstring LimitName(int heat, const TemperatureLimits& limits) {
    return heat == 2 ? L"critical " + std::to_wstring(limits.critical)
                     : L"warning " + std::to_wstring(limits.warning);
}

std::wstring Join(const std::vector<std::wstring>& texts) {
    std::wstring joined;
    for (const std::wstring& text : texts) joined += (joined.empty() ? L"" : L"; ") + text;
    return joined;
}

bool Same(const DiskSelfTest& a, const DiskSelfTest& b) {
    return a.kind == b.kind && a.result == b.result && a.powerOnHours == b.powerOnHours &&
           a.failingLba == b.failingLba;
}

std::wstring TestDetail(const DiskSelfTest& test) {
    std::wstring detail = DiskSelfTestKindName(test.kind);
    if (test.result == DiskSelfTest::Passed) return detail;
    detail += std::wstring(L", ") + DiskSelfTestResultName(test.result);
    if (test.failingLba != kHealthAbsent) detail += L", LBA " + std::to_wstring(test.failingLba);
    return detail;
}

class Teller {
public:
    Teller(const Event& stamp, Events& events) : m_stamp(stamp), m_events(events) {}
    void operator()(Event::Type type, std::wstring from, std::wstring to, std::wstring detail) {
        m_events.push_back(m_stamp);
        Event& event = m_events.back();
        event.type = type;
        event.from = std::move(from);
        event.to = std::move(to);
        event.detail = std::move(detail);
    }

private:
    const Event& m_stamp;
    Events& m_events;
};

void CompareSelfTests(const DiskHealth& reading, bool first, DiskMemory& memory, Teller& tell) {
    const bool running = reading.selfTestInProgress >= 0;
    const bool wasRunning = memory.testRunning >= 0;
    if (!first && running && !wasRunning && !memory.startTold)
        tell(Event::SelfTestStarted, L"", L"", L"unknown");  // started by someone else

    const DiskSelfTest* newest = reading.selfTests.empty() ? nullptr : &reading.selfTests.front();
    // The log may hold the same words twice (a full log, two tests in one hour): a longer log or
    // a run that ended tells the newest entry as new too.
    const bool isNew =
        newest && (!memory.hasNewestTest || !Same(*newest, memory.newestTest) ||
                   reading.selfTests.size() > memory.testCount || (wasRunning && !running));
    if (!first && isNew && newest->result != DiskSelfTest::InProgress) {
        tell(newest->result == DiskSelfTest::Passed ? Event::SelfTestPassed : Event::SelfTestFailed,
             L"", L"", TestDetail(*newest));
    }
    memory.testRunning = reading.selfTestInProgress;
    memory.startTold = false;
    if (newest) {  // an empty log is more often one that was not read than one that was cleared
        memory.hasNewestTest = true;
        memory.newestTest = *newest;
        memory.testCount = reading.selfTests.size();
    }
}

}  // namespace

void CompareReading(const Event& stamp, int result, const DiskHealth& reading,
                    const TemperatureLimits& limits, DiskMemory& memory, Events& events) {
    Teller tell(stamp, events);
    if (result == result::kNotFound) {
        if (memory.presence == DiskMemory::Present) tell(Event::DiskRemoved, L"", L"", L"");
        memory = DiskMemory();
        memory.presence = DiskMemory::Absent;
        return;
    }
    const bool first = memory.presence != DiskMemory::Present;
    if (memory.presence == DiskMemory::Absent) tell(Event::DiskAdded, L"", L"", L"");
    memory.presence = DiskMemory::Present;

    if (reading.verdict != memory.verdict && (!first || reading.verdict == DiskHealth::Failing)) {
        tell(Event::VerdictChanged, DiskHealthVerdictName(memory.verdict),
             DiskHealthVerdictName(reading.verdict), Join(reading.reasons));
    }
    memory.verdict = reading.verdict;

    long long values[kRisingCount];
    Values(reading, values);
    for (std::size_t i = 0; i < kRisingCount; ++i) {
        if (values[i] == kHealthAbsent) continue;
        if (memory.rising[i] != kHealthAbsent && values[i] > memory.rising[i]) {
            tell(i == kErrorLog ? Event::ErrorsLogged : Event::CounterIncreased,
                 std::to_wstring(memory.rising[i]), std::to_wstring(values[i]), ValueName(i));
        }
        memory.rising[i] = values[i];
    }

    if (reading.hasTemperature) {
        const int heat = Heat(reading.temperature, limits);
        const std::wstring from =
            memory.hasTemperature ? std::to_wstring(memory.temperature) : std::wstring();
        const std::wstring to = std::to_wstring(reading.temperature);
        if (heat > memory.heat) {
            tell(Event::TemperatureHigh, from, to, LimitName(heat, limits));
        } else if (heat == 0 && memory.heat > 0) {
            tell(Event::TemperatureNormal, from, to, LimitName(limits.warning > 0 ? 1 : 2, limits));
        }
        memory.heat = heat;
        memory.hasTemperature = true;
        memory.temperature = reading.temperature;
    }

    // A failed read leaves the self-test fields at "none": they would look like a test that ended.
    if (result == result::kOk) CompareSelfTests(reading, first, memory, tell);
}

void TellStart(const Event& stamp, int kind, int code, const std::wstring& reason,
               DiskMemory& memory, Events& events) {
    Teller tell(stamp, events);
    const std::wstring name = DiskSelfTestKindName(kind);
    if (code == result::kOk) {
        memory.startTold = true;
        tell(Event::SelfTestStarted, L"", L"", name);
        return;
    }
    tell(Event::SelfTestFailed, L"", L"",
         L"not started: " + name + L", " +
             (reason.empty() ? L"code " + std::to_wstring(code) : reason));
}

}  // namespace watch
}  // namespace Ovra
