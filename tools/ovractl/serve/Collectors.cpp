#include "Collectors.h"

#include "../Output.h"
#include "StatusPage.h"

#include <Ovra/Bases/Clock.h>
#include <ntp/Ntp.h>

#include <filesystem>
#include <list>

namespace ovractl {

namespace {

const std::chrono::seconds kTimeCheckAge(60);

std::vector<VolumeFigures> ReadVolumes() {
    Ovra::StorageLogicalDrive volumes(1);
    std::vector<VolumeFigures> out;
    for (std::size_t i = 0; i < volumes.GetDriveCount(); ++i) {
        VolumeFigures v;
        if (volumes.GetDrive(i, v.drive) != 0) continue;
        v.driveType = volumes.GetDriveTypeW(v.drive.root);
        out.push_back(v);
    }
    return out;
}

}  // namespace

Collectors::Collectors(CollectorOptions options, Readings readings)
    : m_options(std::move(options)), m_readings(std::move(readings)) {
    m_time.server = m_options.timeServer;
}

Collectors::~Collectors() {
    for (auto& log : m_logs) log->Close();
}

std::string Collectors::Open() {
    for (const std::string& path : m_options.logs) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ec))
            return "no log database " + path;
        std::unique_ptr<Ovra::LogService> log(new Ovra::LogService);
        if (int rc = log->Open(Wide(path)))
            return "cannot open " + path + " (code " + std::to_string(rc) + ")";
        m_logs.push_back(std::move(log));
    }
    if (!m_options.healthLog.empty()) {
        m_health.reset(new HealthLog);
        if (int rc = m_health->Open(Wide(m_options.healthLog)))
            return "cannot open the health log " + m_options.healthLog + " (code " +
                   std::to_string(rc) + ")";
    }
    return "";
}

Snapshot Collectors::Collect(unsigned parts) {
    const auto start = std::chrono::steady_clock::now();
    Snapshot s;
    s.takenMs = Ovra::GetCurTime();
    if (parts & kDisks) {
        s.disks = m_readings();
        s.collectors["disks"] = true;
    }
    if (parts & kVolumes) {
        s.volumes = ReadVolumes();
        s.collectors["volumes"] = !s.volumes.empty();
    }
    if (parts & kTime) CollectTime(s);
    if ((parts & kLogs) && !m_logs.empty()) CollectLogs(s);
    if ((parts & kHistory) && m_health) CollectHistory(s);
    s.scrapeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return s;
}

void Collectors::CollectTime(Snapshot& s) {
    std::lock_guard<std::mutex> lock(m_timeMutex);
    const auto now = std::chrono::steady_clock::now();
    if (!m_everChecked || now - m_checked >= kTimeCheckAge) {
        NtpResult result{};
        m_time.answered = GetNtpTimeEx(Wide(m_options.timeServer).c_str(), m_options.timeTimeoutMs,
                                       &result) == NTP_OK;
        if (m_time.answered) {
            m_time.offsetSeconds = static_cast<double>(result.offsetNs) / 1e9;
            m_time.lastSyncMs = Ovra::GetCurTime();
        }
        m_checked = now;
        m_everChecked = true;
    }
    s.time = m_time;
    s.collectors["time"] = m_time.answered;
}

void Collectors::CollectLogs(Snapshot& s) {
    bool all = true;
    for (std::size_t i = 0; i < m_logs.size(); ++i) {
        LogFigures figures;
        figures.database = m_options.logs[i];
        std::error_code ec;
        figures.fileBytes =
            std::filesystem::file_size(std::filesystem::u8path(figures.database), ec);
        std::list<std::list<Ovra::LogService::FieldData>> oldest;
        const std::wstring time = Ovra::LogService::GetTimeFieldName();
        if (ec || m_logs[i]->GetRecordCount(L"", figures.records) != 0 ||
            m_logs[i]->Search(L"ORDER BY " + time + L" LIMIT 1", oldest) != 0) {
            all = false;
            continue;
        }
        for (const auto& row : oldest)
            for (const Ovra::LogService::FieldData& field : row)
                if (field.name == time) field.value.GetValue(figures.oldestMs);
        s.logs.push_back(figures);
    }
    s.collectors["logs"] = all;
}

void Collectors::CollectHistory(Snapshot& s) {
    std::lock_guard<std::mutex> lock(m_healthMutex);
    bool all = true;
    std::vector<int> ids{0};
    ids.insert(ids.end(), std::begin(kPlottedCounters), std::end(kPlottedCounters));
    for (int id : ids) {
        std::vector<HealthSample> samples;
        if (m_health->History(-1, id, samples) != 0) {
            all = false;
            continue;
        }
        for (const HealthSample& sample : samples) s.history[sample.disk].push_back(sample);
    }
    s.collectors["history"] = all;
}

int Collectors::RecordPoll(long long time, const std::map<long long, Ovra::DiskHealth>& readings) {
    std::lock_guard<std::mutex> lock(m_healthMutex);
    if (!m_health) return 0;
    int first = 0;
    for (const auto& disk : readings) {
        const int rc = m_health->Record(time, disk.first, disk.second);
        if (!first) first = rc;
    }
    return first;
}

}  // namespace ovractl
