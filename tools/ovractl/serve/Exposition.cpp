#include "Exposition.h"

#include "../Output.h"
#include "../VolumeJson.h"
#include "../HealthJson.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace ovractl {

const char kExpositionContentType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string EscapeLabelValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

using Labels = std::vector<std::pair<const char*, std::string>>;

// Writes one family at a time; a family's HELP and TYPE appear only once it has a sample.
class Writer {
public:
    void Begin(const char* name, const char* help) {
        m_name = name;
        m_head = std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
    }
    void Sample(const Labels& labels, double value) {
        m_out += m_head;
        m_head.clear();
        m_out += m_name;
        if (!labels.empty()) {
            m_out += '{';
            for (std::size_t i = 0; i < labels.size(); ++i) {
                if (i) m_out += ',';
                m_out += labels[i].first;
                m_out += "=\"" + EscapeLabelValue(labels[i].second) + '"';
            }
            m_out += '}';
        }
        char number[32];
        std::snprintf(number, sizeof number, " %.15g\n", value);
        m_out += number;
    }
    std::string Take() { return std::move(m_out); }

private:
    std::string m_out;
    std::string m_name;
    std::string m_head;
};

#define FROM_POLL " (the watch's last poll: a scrape sends no command to a disk)"

struct DiskGauge {
    const char* name;
    const char* help;
    bool (*read)(const Ovra::DiskHealth& health, double& value);
};

bool Absent(long long value) {
    return value == Ovra::kHealthAbsent;
}

// The newest test that ran to an end; aborted and interrupted tests say nothing of the disk.
bool NewestTestFailed(const Ovra::DiskHealth& h, double& value) {
    for (const Ovra::DiskSelfTest& test : h.selfTests) {
        if (test.result == Ovra::DiskSelfTest::InProgress) continue;
        value = test.result >= Ovra::DiskSelfTest::Fatal ? 1 : 0;
        return true;
    }
    return false;
}

const DiskGauge kDiskGauges[] = {
    {"ovra_disk_temperature_celsius", "Disk temperature" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = h.temperature;
         return h.hasTemperature;
     }},
    {"ovra_disk_power_on_seconds", "Time the disk has been powered on" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = static_cast<double>(h.powerOnHours) * 3600;
         return !Absent(h.powerOnHours);
     }},
    {"ovra_disk_selftest_failed", "1 when the newest completed self-test failed" FROM_POLL,
     NewestTestFailed},
    {"ovra_disk_error_log_entries", "Errors in the device's error log" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = static_cast<double>(h.errorLogCount);
         return !Absent(h.errorLogCount);
     }},
    {"ovra_disk_nvme_critical_warning", "NVMe critical warning bits" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = h.nvme.criticalWarning;
         return h.hasNvmeLog;
     }},
    {"ovra_disk_nvme_percentage_used_ratio", "NVMe rated endurance used (may exceed 1)" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = h.nvme.percentageUsed / 100.0;
         return h.hasNvmeLog;
     }},
    {"ovra_disk_nvme_available_spare_ratio", "NVMe available spare" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = h.nvme.availableSpare / 100.0;
         return h.hasNvmeLog;
     }},
    {"ovra_disk_nvme_media_errors", "NVMe media and data integrity errors" FROM_POLL,
     [](const Ovra::DiskHealth& h, double& v) {
         v = static_cast<double>(h.nvme.mediaErrors);
         return h.hasNvmeLog;
     }},
};

struct AttributeGauge {
    const char* name;
    const char* help;
    double (*read)(const Ovra::DiskHealthAttribute& a);
};

const AttributeGauge kAttributeGauges[] = {
    {"ovra_disk_smart_attribute_value", "SMART attribute normalised value" FROM_POLL,
     [](const Ovra::DiskHealthAttribute& a) { return static_cast<double>(a.value); }},
    {"ovra_disk_smart_attribute_worst", "SMART attribute worst value" FROM_POLL,
     [](const Ovra::DiskHealthAttribute& a) { return static_cast<double>(a.worst); }},
    {"ovra_disk_smart_attribute_threshold", "SMART attribute threshold (0: none)" FROM_POLL,
     [](const Ovra::DiskHealthAttribute& a) { return static_cast<double>(a.threshold); }},
    {"ovra_disk_smart_attribute_raw", "SMART attribute raw value" FROM_POLL,
     [](const Ovra::DiskHealthAttribute& a) { return static_cast<double>(a.raw); }},
};

void WriteDisks(Writer& w, const Snapshot& s) {
    w.Begin("ovra_disk_info", "Disk identity" FROM_POLL);
    for (const auto& d : s.disks) {
        const Ovra::DiskHealth& h = d.second;
        w.Sample({{"disk", std::to_string(d.first)},
                  {"model", Utf8(h.model)},
                  {"serial", Utf8(h.serial)},
                  {"firmware", Utf8(h.firmware)},
                  {"kind", DiskKindText(h.kind)}},
                 1);
    }
    w.Begin("ovra_disk_health", "1 for the disk's current verdict, 0 for the others" FROM_POLL);
    for (const auto& d : s.disks) {
        for (int verdict : {Ovra::DiskHealth::Good, Ovra::DiskHealth::Warning,
                            Ovra::DiskHealth::Failing, Ovra::DiskHealth::Unknown})
            w.Sample({{"disk", std::to_string(d.first)},
                      {"verdict", Utf8(Ovra::DiskHealthVerdictName(verdict))}},
                     d.second.verdict == verdict ? 1 : 0);
    }
    for (const DiskGauge& gauge : kDiskGauges) {
        w.Begin(gauge.name, gauge.help);
        double value = 0;
        for (const auto& d : s.disks)
            if (gauge.read(d.second, value)) w.Sample({{"disk", std::to_string(d.first)}}, value);
    }
    for (const AttributeGauge& gauge : kAttributeGauges) {
        w.Begin(gauge.name, gauge.help);
        for (const auto& d : s.disks)
            for (const Ovra::DiskHealthAttribute& a : d.second.attributes)
                w.Sample({{"disk", std::to_string(d.first)},
                          {"id", std::to_string(a.id)},
                          {"name", Utf8(a.name)}},
                         gauge.read(a));
    }
}

void WriteVolumes(Writer& w, const Snapshot& s) {
    const auto labels = [](const Ovra::LogicalDrive& v) -> Labels {
        return {{"root", Utf8(v.root)},
                {"label", Utf8(v.volumeName)},
                {"filesystem", FileSystemName(v.fileSystem)}};
    };
    w.Begin("ovra_volume_size_bytes", "Volume size, read at the scrape");
    for (const VolumeFigures& v : s.volumes)
        w.Sample(labels(v.drive), static_cast<double>(v.drive.totalSize));
    w.Begin("ovra_volume_free_bytes", "Volume space free to this process, read at the scrape");
    for (const VolumeFigures& v : s.volumes)
        w.Sample(labels(v.drive), static_cast<double>(v.drive.freeSize));
}

void WriteTimeAndLogs(Writer& w, const Snapshot& s) {
    const TimeFigures& t = s.time;
    w.Begin("ovra_time_offset_seconds",
            "Time server's clock minus this clock, from a check at most a minute old");
    if (t.answered) w.Sample({{"server", t.server}}, t.offsetSeconds);
    w.Begin("ovra_time_last_sync_timestamp_seconds", "When the time server last answered");
    if (t.lastSyncMs > 0) w.Sample({}, static_cast<double>(t.lastSyncMs) / 1000);

    w.Begin("ovra_log_records", "Records in the log database, counted at the scrape");
    for (const LogFigures& l : s.logs)
        w.Sample({{"database", l.database}}, static_cast<double>(l.records));
    w.Begin("ovra_log_file_size_bytes", "Size of the log database file");
    for (const LogFigures& l : s.logs)
        w.Sample({{"database", l.database}}, static_cast<double>(l.fileBytes));
    w.Begin("ovra_log_oldest_record_timestamp_seconds", "Time of the oldest record of the log");
    for (const LogFigures& l : s.logs)
        if (l.oldestMs >= 0)
            w.Sample({{"database", l.database}}, static_cast<double>(l.oldestMs) / 1000);
}

}  // namespace

std::string BuildExposition(const Snapshot& s, const std::string& version) {
    Writer w;
    w.Begin("ovra_build_info", "The version of ovractl serving these figures");
    w.Sample({{"version", version}}, 1);
    w.Begin("ovra_scrape_duration_seconds", "Time taken to collect these figures");
    w.Sample({}, s.scrapeSeconds);
    w.Begin("ovra_collector_success", "1 when the collector read its figures, 0 when it failed");
    for (const auto& c : s.collectors) w.Sample({{"collector", c.first}}, c.second ? 1 : 0);
    WriteDisks(w, s);
    WriteVolumes(w, s);
    WriteTimeAndLogs(w, s);
    return w.Take();
}

}  // namespace ovractl
