#include "HealthCommands.h"

#include "HealthLog.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/ResultCodes.h>

#include <fstream>
#include <iostream>
#include <map>
#include <memory>

namespace ovractl {

using Ovra::DiskHealth;

namespace {

struct HealthOptions {
    long long disk = -1;
    bool json = false;
    int temperatureLimit = Ovra::kDefaultTemperatureLimit;
    std::string database;
    long long id = -1;
};

const char* KindName(DiskHealth::Kind kind) {
    return kind == DiskHealth::Ata ? "ATA" : kind == DiskHealth::Nvme ? "NVMe" : "unknown";
}

const char* AssessmentName(DiskHealth::Assessment assessment) {
    return assessment == DiskHealth::Passed   ? "passed"
           : assessment == DiskHealth::Failed ? "FAILED"
                                              : "not assessed";
}

nlohmann::json Optional(long long value) {
    return value == Ovra::kHealthAbsent ? nlohmann::json(nullptr) : nlohmann::json(value);
}

std::string Text(long long value) {
    return value == Ovra::kHealthAbsent ? "absent" : std::to_string(value);
}

nlohmann::json HealthJson(long long disk, const DiskHealth& h) {
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
    nlohmann::json out{{"disk", disk},
                       {"verdict", Utf8(Ovra::DiskHealthVerdictName(h.verdict))},
                       {"reasons", reasons},
                       {"kind", KindName(h.kind)},
                       {"model", Utf8(h.model)},
                       {"serial", Utf8(h.serial)},
                       {"firmware", Utf8(h.firmware)},
                       {"selfAssessment", AssessmentName(h.selfAssessment)},
                       {"temperature", h.hasTemperature ? nlohmann::json(h.temperature) : nullptr},
                       {"powerOnHours", Optional(h.powerOnHours)},
                       {"reallocatedSectors", Optional(h.reallocatedSectors)},
                       {"reportedUncorrectable", Optional(h.reportedUncorrectable)},
                       {"commandTimeouts", Optional(h.commandTimeouts)},
                       {"pendingSectors", Optional(h.pendingSectors)},
                       {"offlineUncorrectable", Optional(h.offlineUncorrectable)},
                       {"attributes", attributes}};
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

void PrintHealth(long long disk, const DiskHealth& h) {
    std::cout << "Disk" << disk << ": " << Utf8(Ovra::DiskHealthVerdictName(h.verdict)) << '\n';
    for (const std::wstring& reason : h.reasons) std::cout << "  - " << Utf8(reason) << '\n';
    if (h.kind == DiskHealth::NoKind) return;
    std::cout << "  " << KindName(h.kind) << " \"" << Utf8(h.model) << "\" serial "
              << Utf8(h.serial) << " firmware " << Utf8(h.firmware) << '\n';
    if (h.kind == DiskHealth::Ata)
        std::cout << "  self-assessment: " << AssessmentName(h.selfAssessment) << '\n';
    std::cout << "  temperature: "
              << (h.hasTemperature ? std::to_string(h.temperature) +
                                         " \xC2\xB0"
                                         "C"
                                   : "absent")
              << "\n  power-on hours: " << Text(h.powerOnHours) << '\n';
    if (h.kind == DiskHealth::Ata) {
        std::cout << "  reallocated sectors: " << Text(h.reallocatedSectors)
                  << "\n  reported uncorrectable: " << Text(h.reportedUncorrectable)
                  << "\n  command timeouts: " << Text(h.commandTimeouts)
                  << "\n  pending sectors: " << Text(h.pendingSectors)
                  << "\n  offline uncorrectable: " << Text(h.offlineUncorrectable) << '\n';
    }
    if (h.hasNvmeLog) {
        const Ovra::NvmeHealthLog& n = h.nvme;
        std::cout << "  critical warning: " << n.criticalWarning
                  << "\n  available spare: " << n.availableSpare << "% (threshold "
                  << n.spareThreshold << "%)\n  percentage used: " << n.percentageUsed
                  << "%\n  data units read/written: " << n.dataUnitsRead << " / "
                  << n.dataUnitsWritten << "\n  power cycles: " << n.powerCycles
                  << "\n  unsafe shutdowns: " << n.unsafeShutdowns
                  << "\n  media errors: " << n.mediaErrors << '\n';
    }
    if (h.attributes.empty()) return;
    Table table({"id", "attribute", "value", "worst", "threshold", "raw", "flags", "state"});
    for (const Ovra::DiskHealthAttribute& a : h.attributes) {
        const std::string state = a.failingNow     ? (a.preFailure ? "FAILING" : "failing")
                                  : a.failedInPast ? "failed in past"
                                                   : "ok";
        table.Add({std::to_string(a.id), Utf8(a.name), std::to_string(a.value),
                   std::to_string(a.worst), std::to_string(a.threshold), std::to_string(a.raw),
                   std::to_string(a.flags), state});
    }
    table.Print(false);
}

// Failing outranks Warning, which outranks Unknown; Good only when every disk is.
int Severity(int exit) {
    static const int kRank[] = {0, 2, 3, 1};
    return kRank[exit];
}

int ExitFor(DiskHealth::Verdict verdict) {
    switch (verdict) {
        case DiskHealth::Good:
            return kHealthGood;
        case DiskHealth::Warning:
            return kHealthWarning;
        case DiskHealth::Failing:
            return kHealthFailing;
        default:
            return kHealthUnknown;
    }
}

int CmdHealth(const HealthOptions& o) {
    std::map<long long, DiskHealth> disks;
    if (o.disk >= 0) {
        Ovra::ReadDiskHealth(o.disk, disks[o.disk], o.temperatureLimit);
    } else {
        for (long long n = 0; n < 32; ++n) {
            DiskHealth health;
            if (Ovra::ReadDiskHealth(n, health, o.temperatureLimit) != Ovra::result::kNotFound)
                disks[n] = health;
        }
        if (disks.empty()) {
            const char* reason = "no disk among numbers 0 to 31 can be opened";
            if (o.json) {
                std::cout << nlohmann::json{{"verdict", "Unknown"}, {"reasons", {reason}}}.dump()
                          << std::endl;
            } else {
                std::cout << "Unknown\n  - " << reason << std::endl;
            }
            return kHealthUnknown;
        }
    }
    int exit = kHealthGood;
    for (const auto& disk : disks) {
        if (o.json) {
            std::cout << HealthJson(disk.first, disk.second).dump() << '\n';
        } else {
            PrintHealth(disk.first, disk.second);
        }
        const int own = ExitFor(disk.second.verdict);
        if (Severity(own) > Severity(exit)) exit = own;
    }
    std::cout.flush();
    return exit;
}

// "2024-05-01 12:00:00" (UTC) of a time in ms since 1970.
std::string TimeText(long long ms) {
    long long seconds = ms / 1000;
    long long days = seconds / 86400;
    const long long rest = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian).
    days += 719468;
    const long long era = days / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

int CmdHistory(const HealthOptions& o) {
    if (!std::ifstream(o.database)) return Fail("no such database", o.database, kNoInput);
    HealthLog log;
    if (int rc = log.Open(Wide(o.database)))
        return Fail("cannot open " + o.database, LibraryCodeText(rc), rc);
    std::vector<HealthSample> samples;
    if (int rc = log.History(o.disk, o.id, samples))
        return Fail("cannot read the history in " + o.database, LibraryCodeText(rc), rc);
    Table table({"time", "disk", "id", "attribute", "value", "worst", "raw", "change",
                 "temperature", "verdict"});
    const HealthSample* previous = nullptr;
    for (const HealthSample& s : samples) {
        const bool same = previous && previous->disk == s.disk && previous->id == s.id;
        const bool hasRaw = s.raw != HealthSample::kAbsent;
        std::string change;
        if (same && hasRaw && s.raw != previous->raw) {
            const long long delta = s.raw - previous->raw;
            change = (delta > 0 ? "+" : "") + std::to_string(delta);
        }
        auto cell = [](long long v) { return v == HealthSample::kAbsent ? "" : std::to_string(v); };
        const std::string name = s.id ? Utf8(Ovra::SmartAttributeName(s.id)) : "(disk)";
        nlohmann::json object{{"time", s.time},
                              {"disk", s.disk},
                              {"id", s.id},
                              {"attribute", name},
                              {"value", Optional(s.value)},
                              {"worst", Optional(s.worst)},
                              {"raw", Optional(s.raw)},
                              {"change", change},
                              {"temperature", Optional(s.temperature)},
                              {"verdict", Utf8(s.verdict)}};
        table.Add(
            {TimeText(s.time), std::to_string(s.disk), std::to_string(s.id), name, cell(s.value),
             cell(s.worst), cell(s.raw), change, cell(s.temperature), Utf8(s.verdict)},
            object);
        previous = &s;
    }
    table.Print(o.json);
    if (!o.json) std::cout << samples.size() << " reading(s)\n";
    return 0;
}

}  // namespace

void AddHealthCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<HealthOptions>();
    CLI::App* health = app.add_subcommand(
        "health", "Health verdict of one disk or of all: SMART (ATA) or the NVMe health log");
    health->add_option("disk", options->disk, "Disk number (default: disks 0 to 31)")
        ->check(CLI::Range(0LL, 4294967295LL));
    health->add_option("--temperature-limit", options->temperatureLimit,
                       "Warn above this temperature in \xC2\xB0"
                       "C (default 60)");
    health->add_flag("--json", options->json, "Print one JSON object per disk");
    health->footer(
        "Exit status: 0 Good, 1 Warning, 2 Failing, 3 Unknown (nothing could be read); for\n"
        "several disks the worst of them, Failing before Warning before Unknown.");
    health->require_subcommand(0, 1);

    CLI::App* history =
        health->add_subcommand("history", "How the recorded readings of a health log changed");
    history->add_option("database", options->database, "Log written by smart --watch --log")
        ->required();
    history->add_option("--disk", options->disk, "Only this disk");
    history->add_option("--id", options->id, "Only this attribute (0: the disk-level record)");
    history->add_flag("--json", options->json, "Print JSON lines");
    history->callback([&exitCode, options] { exitCode = CmdHistory(*options); });

    health->callback([&exitCode, options, health, history] {
        if (!health->got_subcommand(history)) exitCode = CmdHealth(*options);
    });
}

}  // namespace ovractl
