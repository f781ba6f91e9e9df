#include "DiskCommands.h"

#include "HealthLog.h"
#include "Output.h"
#include "ValueText.h"
#include "VolumeJson.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/HddSmartInfo.h>
#include <Ovra/ResultCodes.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include <condition_variable>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

namespace ovractl {

using Ovra::HddSmartAttr;

namespace {

struct DiskOptions {
    bool json = false;
    long long disk = -1;
    int watchSeconds = 0;
    int cycles = 0;       // 0: until interrupted
    std::string logPath;  // with --watch: record every cycle in this log database
    unsigned long long retentionMinutes = 0;
};

using Readings = std::map<unsigned char, HddSmartAttr>;

void PrintSmart(std::size_t disk, const Readings& attrs, bool json) {
    Table table({"id", "attribute", "value", "worst", "threshold", "flags", "state"});
    for (const auto& entry : attrs) {
        const HddSmartAttr& a = entry.second;
        // A nonzero threshold that the value has reached is the drive's own failure signal.
        const bool failing = a.threshold != 0 && a.value <= a.threshold;
        const std::string state = failing ? "FAILING" : "ok";
        nlohmann::json object{
            {"disk", disk},     {"id", a.id},       {"name", Utf8(Ovra::SmartAttributeName(a.id))},
            {"value", a.value}, {"worst", a.worst}, {"threshold", a.threshold},
            {"flags", a.flags}, {"state", state}};
        table.Add(
            {std::to_string(a.id), Utf8(Ovra::SmartAttributeName(a.id)), std::to_string(a.value),
             std::to_string(a.worst), std::to_string(a.threshold), std::to_string(a.flags), state},
            object);
    }
    if (!json) std::cout << "Disk" << disk << ":\n";
    table.Print(json);
}

int CmdSmartNow(const DiskOptions& o) {
    Ovra::HddSmartInfo smart;
    if (o.disk >= 0) {
        Readings attrs;
        const int rc = smart.GetNowSmartAttr(static_cast<std::size_t>(o.disk), attrs);
        if (rc)
            return Fail("cannot read SMART of disk " + std::to_string(o.disk), LibraryCodeText(rc),
                        rc);
        PrintSmart(static_cast<std::size_t>(o.disk), attrs, o.json);
        return 0;
    }
    std::map<std::size_t, Readings> all;
    if (!smart.GetNowSmartAttr(all))
        return Fail("no disk answered the SMART requests", "disks 0 to 31", Ovra::result::kNoSmart);
    for (const auto& disk : all) PrintSmart(disk.first, disk.second, o.json);
    return 0;
}

// Prints each cycle's snapshot as the monitor reports it; queues a single disk again for the next
// cycle (a queued disk is read once), and says when the wanted number of cycles has been shown.
class SmartPrinter : public Ovra::HddSmartInfoObserver {
public:
    SmartPrinter(const DiskOptions& options, HealthLog* log) : m_options(options), m_log(log) {}
    void OnSmartAttrUpdate(Ovra::HddSmartInfo* info) override {
        std::map<std::size_t, Readings> all;
        info->GetSmartAttr(all);
        ++m_cycles;
        if (!m_options.json)
            std::cout << "-- cycle " << m_cycles << ": " << all.size() << " disk(s)\n";
        for (const auto& disk : all) PrintSmart(disk.first, disk.second, m_options.json);
        if (m_log) {
            if (int rc = m_log->RecordCycle(Ovra::GetCurTime(), all))
                Fail("cannot record the cycle", LibraryCodeText(rc), rc);
        }
        std::cout.flush();
        if (m_options.disk >= 0) info->AddCheckDisk(static_cast<std::size_t>(m_options.disk));
        if (m_options.cycles > 0 && m_cycles >= m_options.cycles) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
            m_done.notify_all();
        }
    }
    void WaitDone() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_finished; });
    }

private:
    const DiskOptions& m_options;
    HealthLog* m_log;
    int m_cycles = 0;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
};

int CmdSmartWatch(const DiskOptions& o) {
    std::unique_ptr<HealthLog> log;
    if (!o.logPath.empty()) {
        log.reset(new HealthLog);
        if (int rc = log->Open(Wide(o.logPath)))
            return Fail("cannot open " + o.logPath, LibraryCodeText(rc), rc);
        if (o.retentionMinutes) {
            log->Service().SetRetentionTime(o.retentionMinutes);
            log->Service().EnableRetention(1);
        }
    }
    Ovra::HddSmartInfo smart;
    SmartPrinter printer(o, log.get());
    smart.SetObserver(&printer);
    if (o.disk >= 0) {
        smart.AddCheckDisk(static_cast<std::size_t>(o.disk));
    } else {
        smart.SetCheckAllDisks(1);
    }
    smart.SetCheckTime(static_cast<short>(o.watchSeconds * 1000));  // at most 32 s: a short in ms
    if (o.cycles == 0) std::cerr << "watching every " << o.watchSeconds << " s; Ctrl-C stops\n";
    smart.EnableCheck(1);
    printer.WaitDone();
    smart.SetObserver(nullptr);
    smart.EnableCheck(0);
    return 0;
}

}  // namespace

int ShowDisks(bool json) {
    Ovra::StoragePhysicalDrive drives(1);
    Table table({"disk", "name", "type", "size", "vendor", "product", "serial"});
    for (std::size_t n = 0; n < 32; ++n) {
        Ovra::PhysicalDrive d;
        if (drives.GetDrive(n, d) != Ovra::result::kOk) continue;
        nlohmann::json object{{"disk", n},
                              {"name", Utf8(d.name)},
                              {"type", DriveTypeName(d.type)},
                              {"size", d.size},
                              {"vendor", Utf8(d.vendorId)},
                              {"product", Utf8(d.productId)},
                              {"serial", Utf8(d.serialNumber)}};
        table.Add({std::to_string(n), Utf8(d.name), DriveTypeName(d.type), HumanSize(d.size),
                   Utf8(d.vendorId), Utf8(d.productId), Utf8(d.serialNumber)},
                  object);
    }
    if (table.Empty()) return 1;
    table.Print(json);
    return 0;
}

int ShowVolumes(bool json) {
    Ovra::StorageLogicalDrive volumes(1);
    Table table({"root", "label", "file system", "type", "total", "free", "serial", "disk"});
    for (std::size_t i = 0; i < volumes.GetDriveCount(); ++i) {
        Ovra::LogicalDrive v;
        if (volumes.GetDrive(i, v) != Ovra::result::kOk) continue;
        const nlohmann::json object = VolumeJson(v, volumes.GetDriveTypeW(v.root));
        const std::string disk = object["disk"].is_null() ? "-" : std::to_string(v.driveIndex);
        const auto text = [&object](const char* key) { return object[key].get<std::string>(); };
        table.Add({Utf8(v.root), Utf8(v.volumeName), text("fileSystem"), text("type"),
                   HumanSize(v.totalSize), HumanSize(v.freeSize), text("serial"), disk},
                  object);
    }
    if (table.Empty()) return 1;
    table.Print(json);
    return 0;
}

void AddDiskCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<DiskOptions>();
    CLI::App* disks = app.add_subcommand("disks", "Physical disks 0 to 31");
    disks->add_flag("--json", options->json, "Print JSON lines");
    disks->callback([&exitCode, options] {
        if (ShowDisks(options->json) != 0) std::cerr << "ovractl: no physical disk could be read\n";
        exitCode = 0;
    });

    CLI::App* volumes =
        app.add_subcommand("volumes", "Volumes: drive letters, or mounted block devices on Linux");
    volumes->add_flag("--json", options->json, "Print JSON lines");
    volumes->callback([&exitCode, options] {
        if (ShowVolumes(options->json) != 0) std::cerr << "ovractl: no volume could be read\n";
        exitCode = 0;
    });

    CLI::App* smart = app.add_subcommand("smart", "SMART attributes of one disk or of all");
    smart->add_option("disk", options->disk, "Disk number (default: disks 0 to 31)")
        ->check(CLI::Range(0LL, 4294967295LL));
    smart->add_option("--watch", options->watchSeconds, "Run the monitor, printing every cycle")
        ->check(CLI::Range(1, 32));
    smart->add_option("--cycles", options->cycles, "With --watch: stop after this many cycles")
        ->check(CLI::PositiveNumber);
    smart->add_option("--log", options->logPath,
                      "With --watch: record every cycle in this log database (health history)");
    smart
        ->add_option("--retention", options->retentionMinutes,
                     "With --log: delete records older than this many minutes")
        ->check(CLI::PositiveNumber);
    smart->add_flag("--json", options->json, "Print JSON lines");
    smart->callback([&exitCode, options] {
        exitCode = options->watchSeconds > 0 ? CmdSmartWatch(*options) : CmdSmartNow(*options);
    });
}

}  // namespace ovractl
