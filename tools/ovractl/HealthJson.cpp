#include "HealthJson.h"

#include "Output.h"

namespace ovractl {

using Ovra::DiskHealth;

nlohmann::json OptionalJson(long long value) {
    return value == Ovra::kHealthAbsent ? nlohmann::json(nullptr) : nlohmann::json(value);
}

const char* DiskKindText(DiskHealth::Kind kind) {
    return kind == DiskHealth::Ata ? "ATA" : kind == DiskHealth::Nvme ? "NVMe" : "unknown";
}

const char* AssessmentText(DiskHealth::Assessment assessment) {
    return assessment == DiskHealth::Passed   ? "passed"
           : assessment == DiskHealth::Failed ? "FAILED"
                                              : "not assessed";
}

namespace {

nlohmann::json TextOrNull(const std::wstring& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(Utf8(text));
}

nlohmann::json SelfTestsJson(const DiskHealth& h) {
    nlohmann::json tests = nlohmann::json::array();
    for (const Ovra::DiskSelfTest& t : h.selfTests) {
        tests.push_back({{"kind", Utf8(Ovra::DiskSelfTestKindName(t.kind))},
                         {"result", Utf8(Ovra::DiskSelfTestResultName(t.result))},
                         {"powerOnHours", OptionalJson(t.powerOnHours)},
                         {"failingLba", OptionalJson(t.failingLba)}});
    }
    return tests;
}

}  // namespace

nlohmann::json DiskHealthJson(long long disk, const DiskHealth& h) {
    nlohmann::json reasons = nlohmann::json::array();
    for (const std::wstring& reason : h.reasons) reasons.push_back(Utf8(reason));
    nlohmann::json attributes = nlohmann::json::array();
    for (const Ovra::DiskHealthAttribute& a : h.attributes) {
        attributes.push_back({{"id", a.id},
                              {"name", Utf8(a.name)},
                              {"value", a.value},
                              {"worst", a.worst},
                              {"threshold", a.threshold},
                              {"raw", a.raw},
                              {"flags", a.flags},
                              {"preFailure", a.preFailure},
                              {"failingNow", a.failingNow},
                              {"failedInPast", a.failedInPast}});
    }
    nlohmann::json out{
        {"disk", disk},
        {"verdict", Utf8(Ovra::DiskHealthVerdictName(h.verdict))},
        {"reasons", reasons},
        {"kind", DiskKindText(h.kind)},
        {"model", Utf8(h.model)},
        {"serial", Utf8(h.serial)},
        {"firmware", Utf8(h.firmware)},
        {"selfAssessment", AssessmentText(h.selfAssessment)},
        {"temperature", h.hasTemperature ? nlohmann::json(h.temperature) : nullptr},
        {"powerOnHours", OptionalJson(h.powerOnHours)},
        {"reallocatedSectors", OptionalJson(h.reallocatedSectors)},
        {"reportedUncorrectable", OptionalJson(h.reportedUncorrectable)},
        {"commandTimeouts", OptionalJson(h.commandTimeouts)},
        {"pendingSectors", OptionalJson(h.pendingSectors)},
        {"offlineUncorrectable", OptionalJson(h.offlineUncorrectable)},
        {"attributes", attributes},
        {"selfTests", SelfTestsJson(h)},
        {"selfTestInProgress",
         h.selfTestInProgress < 0 ? nlohmann::json(nullptr) : nlohmann::json(h.selfTestInProgress)},
        {"errorLogCount", OptionalJson(h.errorLogCount)}};
    if (h.hasNvmeLog) {
        const Ovra::NvmeHealthLog& n = h.nvme;
        out["nvme"] = {
            {"criticalWarning", n.criticalWarning}, {"availableSpare", n.availableSpare},
            {"spareThreshold", n.spareThreshold},   {"percentageUsed", n.percentageUsed},
            {"dataUnitsRead", n.dataUnitsRead},     {"dataUnitsWritten", n.dataUnitsWritten},
            {"powerCycles", n.powerCycles},         {"unsafeShutdowns", n.unsafeShutdowns},
            {"mediaErrors", n.mediaErrors}};
    }
    return out;
}

nlohmann::json WatchEventJson(const Ovra::DiskHealthEvent& event) {
    return {{"time", event.time},
            {"disk", event.disk},
            {"event", Utf8(Ovra::DiskHealthEventName(event.type))},
            {"from", TextOrNull(event.from)},
            {"to", TextOrNull(event.to)},
            {"detail", TextOrNull(event.detail)}};
}

}  // namespace ovractl
