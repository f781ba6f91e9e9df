#include "src/health/HealthVerdict.h"

#include "src/health/SelfTestNames.h"

#include <limits>
#include <string>

namespace Ovra {
namespace health {

namespace {

const DiskHealthAttribute* Find(const DiskHealth& health, int id) {
    for (const DiskHealthAttribute& a : health.attributes)
        if (a.id == id) return &a;
    return nullptr;
}

long long Raw(const DiskHealth& health, int id) {
    const DiskHealthAttribute* a = Find(health, id);
    return a ? a->raw : kHealthAbsent;
}

std::wstring Named(const DiskHealthAttribute& a) {
    return a.name + L" (" + std::to_wstring(a.id) + L")";
}

class Findings {
public:
    explicit Findings(DiskHealth& health) : m_health(health) {}
    void Failing(const std::wstring& reason) { Add(DiskHealth::Failing, reason); }
    void Warning(const std::wstring& reason) { Add(DiskHealth::Warning, reason); }
    void Count(long long count, const wchar_t* what) {
        if (count > 0) Warning(std::to_wstring(count) + L" " + what);
    }

private:
    void Add(DiskHealth::Verdict verdict, const std::wstring& reason) {
        if (verdict > m_health.verdict) m_health.verdict = verdict;
        m_health.reasons.push_back(reason);
    }
    DiskHealth& m_health;
};

void JudgeAttributes(const DiskHealth& health, Findings& findings) {
    if (health.selfAssessment == DiskHealth::Failed)
        findings.Failing(L"the drive assesses itself as failing");
    for (const DiskHealthAttribute& a : health.attributes) {
        const std::wstring limits = L", threshold " + std::to_wstring(a.threshold);
        if (a.failingNow && a.preFailure) {
            findings.Failing(Named(a) + L" is at or below its threshold: value " +
                             std::to_wstring(a.value) + limits);
        } else if (a.failingNow) {
            findings.Warning(Named(a) + L" is at or below its threshold: value " +
                             std::to_wstring(a.value) + limits);
        } else if (a.failedInPast) {
            findings.Warning(Named(a) + L" was at or below its threshold: worst " +
                             std::to_wstring(a.worst) + limits);
        }
    }
    findings.Count(health.reallocatedSectors, L"reallocated sectors");
    findings.Count(health.reportedUncorrectable, L"reported uncorrectable errors");
    findings.Count(health.commandTimeouts, L"command timeouts");
    findings.Count(health.pendingSectors, L"pending sectors");
    findings.Count(health.offlineUncorrectable, L"offline uncorrectable sectors");
}

void JudgeNvmeLog(const NvmeHealthLog& log, Findings& findings) {
    const int warning = log.criticalWarning;
    if (warning & 0x01) findings.Failing(L"critical warning: available spare below its threshold");
    if (warning & 0x04) findings.Failing(L"critical warning: reliability degraded");
    if (warning & 0x08) findings.Failing(L"critical warning: media placed in read-only mode");
    if (warning & 0x02) findings.Warning(L"critical warning: temperature out of range");
    if (warning & 0x10) findings.Warning(L"critical warning: volatile memory backup failed");
    if (log.percentageUsed >= 90)
        findings.Warning(std::to_wstring(log.percentageUsed) + L"% of rated endurance used");
    if (log.availableSpare < log.spareThreshold)
        findings.Warning(L"available spare " + std::to_wstring(log.availableSpare) +
                         L"% below its threshold of " + std::to_wstring(log.spareThreshold) + L"%");
    if (log.mediaErrors > 0)
        findings.Warning(std::to_wstring(log.mediaErrors) + L" media and data integrity errors");
}

// The newest test that ran to its end decides; one the host or a reset stopped says nothing.
void JudgeDeviceLogs(const DiskHealth& health, Findings& findings) {
    for (const DiskSelfTest& test : health.selfTests) {
        if (test.result == DiskSelfTest::InProgress || test.result == DiskSelfTest::Aborted ||
            test.result == DiskSelfTest::Interrupted)
            continue;
        if (test.result >= DiskSelfTest::Fatal && test.result <= DiskSelfTest::HandlingDamage) {
            const std::wstring at = test.failingLba == kHealthAbsent
                                        ? std::wstring()
                                        : L" at LBA " + std::to_wstring(test.failingLba);
            findings.Failing(std::wstring(L"the last ") + SelfTestKindName(test.kind) +
                             L" self-test failed: " + SelfTestResultName(test.result) + at);
        }
        break;
    }
    if (health.errorLogCount > 0)
        findings.Warning(L"the device logged " + std::to_wstring(health.errorLogCount) +
                         (health.errorLogCount == 1 ? L" error" : L" errors"));
}

}  // namespace

void Summarise(DiskHealth& health) {
    if (health.hasNvmeLog) {
        const NvmeHealthLog& log = health.nvme;
        health.hasTemperature = log.temperatureKelvin != 0;  // 0: not reported
        health.temperature = log.temperatureKelvin - 273;
        const unsigned long long limit = std::numeric_limits<long long>::max();
        health.powerOnHours =
            static_cast<long long>(log.powerOnHours > limit ? limit : log.powerOnHours);
        return;
    }
    const DiskHealthAttribute* temperature = Find(health, 194);
    if (!temperature) temperature = Find(health, 190);
    if (temperature) {
        health.hasTemperature = true;
        health.temperature = static_cast<int>(temperature->raw & 0xFF);
    }
    // Makers put minutes or milliseconds in the upper raw bytes of 9; the hours are the low 32
    // bits.
    const long long hours = Raw(health, 9);
    health.powerOnHours = hours == kHealthAbsent ? hours : hours & 0xFFFFFFFFLL;
    health.reallocatedSectors = Raw(health, 5);
    health.reportedUncorrectable = Raw(health, 187);
    health.commandTimeouts = Raw(health, 188);
    health.pendingSectors = Raw(health, 197);
    health.offlineUncorrectable = Raw(health, 198);
}

void Judge(DiskHealth& health, int temperatureLimit) {
    health.verdict = DiskHealth::Good;
    health.reasons.clear();
    Findings findings(health);
    JudgeAttributes(health, findings);
    if (health.hasNvmeLog) JudgeNvmeLog(health.nvme, findings);
    JudgeDeviceLogs(health, findings);
    if (health.hasTemperature && health.temperature > temperatureLimit)
        findings.Warning(L"temperature " + std::to_wstring(health.temperature) +
                         L" \u00B0C above the limit of " + std::to_wstring(temperatureLimit) +
                         L" \u00B0C");
}

}  // namespace health
}  // namespace Ovra
