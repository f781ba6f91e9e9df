#include "HealthCommands.h"

#include "HealthJson.h"
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
    bool events = false;
};

std::string Text(long long value) {
    return value == Ovra::kHealthAbsent ? "absent" : std::to_string(value);
}

void PrintAttributes(const DiskHealth& h) {
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

void PrintSelfTests(const DiskHealth& h) {
    if (h.selfTests.empty()) return;
    std::cout << "  self-test log, newest first:\n";
    Table tests({"kind", "result", "power-on hours", "failing LBA"});
    for (const Ovra::DiskSelfTest& t : h.selfTests) {
        tests.Add({Utf8(Ovra::DiskSelfTestKindName(t.kind)),
                   Utf8(Ovra::DiskSelfTestResultName(t.result)), Text(t.powerOnHours),
                   t.failingLba == Ovra::kHealthAbsent ? "-" : std::to_string(t.failingLba)});
    }
    tests.Print(false);
}

void PrintHealth(long long disk, const DiskHealth& h) {
    std::cout << "Disk" << disk << ": " << Utf8(Ovra::DiskHealthVerdictName(h.verdict)) << '\n';
    for (const std::wstring& reason : h.reasons) std::cout << "  - " << Utf8(reason) << '\n';
    if (h.kind == DiskHealth::NoKind) return;
    std::cout << "  " << DiskKindText(h.kind) << " \"" << Utf8(h.model) << "\" serial "
              << Utf8(h.serial) << " firmware " << Utf8(h.firmware) << '\n';
    if (h.kind == DiskHealth::Ata)
        std::cout << "  self-assessment: " << AssessmentText(h.selfAssessment) << '\n';
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
    std::cout << "  errors in the device log: " << Text(h.errorLogCount) << '\n';
    if (h.selfTestInProgress >= 0)
        std::cout << "  self-test running: " << h.selfTestInProgress << "% remaining\n";
    PrintAttributes(h);
    PrintSelfTests(h);
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
            std::cout << DiskHealthJson(disk.first, disk.second).dump() << '\n';
        } else {
            PrintHealth(disk.first, disk.second);
        }
        const int own = ExitFor(disk.second.verdict);
        if (Severity(own) > Severity(exit)) exit = own;
    }
    std::cout.flush();
    return exit;
}

int PrintEvents(const HealthOptions& o, HealthLog& log) {
    std::vector<Ovra::DiskHealthEvent> events;
    if (int rc = log.Events(o.disk, events))
        return Fail("cannot read the events in " + o.database, LibraryCodeText(rc), rc);
    Table table({"time", "disk", "event", "from", "to", "detail"});
    for (const Ovra::DiskHealthEvent& e : events) {
        table.Add(
            {UtcTimeText(e.time), std::to_string(e.disk), Utf8(Ovra::DiskHealthEventName(e.type)),
             Utf8(e.from), Utf8(e.to), Utf8(e.detail)},
            WatchEventJson(e));
    }
    table.Print(o.json);
    if (!o.json) std::cout << events.size() << " event(s)\n";
    return 0;
}

int CmdHistory(const HealthOptions& o) {
    if (!std::ifstream(o.database)) return Fail("no such database", o.database, kNoInput);
    HealthLog log;
    if (int rc = log.Open(Wide(o.database)))
        return Fail("cannot open " + o.database, LibraryCodeText(rc), rc);
    if (o.events) return PrintEvents(o, log);
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
                              {"value", OptionalJson(s.value)},
                              {"worst", OptionalJson(s.worst)},
                              {"raw", OptionalJson(s.raw)},
                              {"change", change},
                              {"temperature", OptionalJson(s.temperature)},
                              {"verdict", Utf8(s.verdict)}};
        table.Add(
            {UtcTimeText(s.time), std::to_string(s.disk), std::to_string(s.id), name, cell(s.value),
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

    CLI::App* history = health->add_subcommand(
        "history", "How the recorded readings of a health log changed, or its events");
    history
        ->add_option("database", options->database,
                     "Log written by smart --watch --log or watch --log")
        ->required();
    history->add_option("--disk", options->disk, "Only this disk");
    CLI::Option* id =
        history->add_option("--id", options->id, "Only this attribute (0: the disk-level record)");
    history
        ->add_flag("--events", options->events,
                   "The events a watch recorded, oldest first, instead of the readings")
        ->excludes(id);
    history->add_flag("--json", options->json, "Print JSON lines");
    history->callback([&exitCode, options] { exitCode = CmdHistory(*options); });

    health->callback([&exitCode, options, health, history] {
        if (!health->got_subcommand(history)) exitCode = CmdHealth(*options);
    });
}

}  // namespace ovractl
