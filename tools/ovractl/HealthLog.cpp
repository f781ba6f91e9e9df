#include "HealthLog.h"

#include <Ovra/ResultCodes.h>
#include <list>

namespace ovractl {

using Ovra::LogService;
using Ovra::LogVariant;

namespace {

const wchar_t* const kDisk = L"Disk";
const wchar_t* const kId = L"AttrId";
const wchar_t* const kValue = L"Value";
const wchar_t* const kWorst = L"Worst";
const wchar_t* const kRaw = L"Raw";
const wchar_t* const kTemperature = L"Temperature";
const wchar_t* const kVerdict = L"Verdict";
const int kEventId = -1;
const wchar_t kSeparator = L'\t';

std::list<LogService::Field> Fields() {
    std::list<LogService::Field> fields;
    for (const wchar_t* name : {kDisk, kId, kValue, kWorst, kTemperature})
        fields.push_back({name, LogVariant::Int32, 0});
    fields.push_back({kRaw, LogVariant::Int64, 0});
    fields.push_back({kVerdict, LogVariant::Text, 0});
    return fields;
}

LogService::Record Row(long long time, long long disk, int id, const Ovra::DiskHealth& health) {
    LogService::Record row;
    row.time = time;
    row.data.push_back({kDisk, LogVariant(static_cast<int>(disk))});
    row.data.push_back({kId, LogVariant(id)});
    if (health.hasTemperature) row.data.push_back({kTemperature, LogVariant(health.temperature)});
    row.data.push_back({kVerdict, LogVariant(Ovra::DiskHealthVerdictName(health.verdict))});
    return row;
}

long long Number(const LogVariant& value) {
    if (value.GetType() == LogVariant::Int64) {
        long long number = 0;
        value.GetValue(number);
        return number;
    }
    int number = 0;
    value.GetValue(number);
    return number;
}

}  // namespace

int HealthLog::Open(const std::wstring& path) {
    if (int rc = m_log.Open(path)) return rc;
    const std::list<LogService::Field> fields = Fields();
    const int created = m_log.Create(fields);
    if (created == Ovra::result::kExists) return Ovra::result::kOk;  // a health log already
    return created ? created : m_log.CreateIndex(fields);
}

int HealthLog::Record(long long time, long long disk, const Ovra::DiskHealth& health) {
    std::list<LogService::Record> rows{Row(time, disk, 0, health)};
    for (const Ovra::DiskHealthAttribute& a : health.attributes) {
        LogService::Record row = Row(time, disk, a.id, health);
        row.data.push_back({kValue, LogVariant(a.value)});
        row.data.push_back({kWorst, LogVariant(a.worst)});
        row.data.push_back({kRaw, LogVariant(a.raw)});
        rows.push_back(row);
    }
    return m_log.Insert(rows);
}

int HealthLog::RecordCycle(
    long long time,
    const std::map<std::size_t, std::map<unsigned char, Ovra::HddSmartAttr>>& snapshot) {
    int first = 0;
    for (const auto& disk : snapshot) {
        Ovra::DiskHealth health;
        const long long number = static_cast<long long>(disk.first);
        Ovra::ReadDiskHealth(number, health);
        const int rc = Record(time, number, health);
        if (!first) first = rc;
    }
    return first;
}

int HealthLog::RecordEvent(const Ovra::DiskHealthEvent& event) {
    LogService::Record row;
    row.time = event.time;
    row.data.push_back({kDisk, LogVariant(static_cast<int>(event.disk))});
    row.data.push_back({kId, LogVariant(kEventId)});
    row.data.push_back({kValue, LogVariant(static_cast<int>(event.type))});
    row.data.push_back(
        {kVerdict, LogVariant(event.from + kSeparator + event.to + kSeparator + event.detail)});
    return m_log.Insert(std::list<LogService::Record>{row});
}

int HealthLog::Query(const std::wstring& condition, const wchar_t* order,
                     std::vector<HealthSample>& samples) {
    std::list<std::list<LogService::FieldData>> rows;
    if (int rc = m_log.Search(L"WHERE " + condition + L" ORDER BY " + order, rows)) return rc;
    samples.clear();
    for (const auto& row : rows) {
        HealthSample sample;
        for (const LogService::FieldData& field : row) {
            const std::wstring& name = field.name;
            if (name == kVerdict) {
                field.value.GetValue(sample.verdict);
                continue;
            }
            const long long number = Number(field.value);
            if (name == LogService::GetTimeFieldName()) sample.time = number;
            if (name == kDisk) sample.disk = static_cast<int>(number);
            if (name == kId) sample.id = static_cast<int>(number);
            if (name == kValue) sample.value = number;
            if (name == kWorst) sample.worst = number;
            if (name == kRaw) sample.raw = number;
            if (name == kTemperature) sample.temperature = number;
        }
        samples.push_back(sample);
    }
    return 0;
}

int HealthLog::History(long long disk, long long id, std::vector<HealthSample>& samples) {
    std::wstring condition = id >= 0 ? L"AttrId = " + std::to_wstring(id) : L"AttrId >= 0";
    if (disk >= 0) condition += L" AND Disk = " + std::to_wstring(disk);
    return Query(condition, L"Disk, AttrId, Time", samples);
}

int HealthLog::Events(long long disk, std::vector<Ovra::DiskHealthEvent>& events) {
    std::wstring condition = L"AttrId = " + std::to_wstring(kEventId);
    if (disk >= 0) condition += L" AND Disk = " + std::to_wstring(disk);
    std::vector<HealthSample> samples;
    if (int rc = Query(condition, L"Time, rowid", samples)) return rc;
    events.clear();
    for (const HealthSample& s : samples) {
        Ovra::DiskHealthEvent event;
        event.type = static_cast<Ovra::DiskHealthEvent::Type>(s.value);
        event.time = s.time;
        event.disk = s.disk;
        // The detail is last: a tab inside it stays part of it.
        const std::size_t first = s.verdict.find(kSeparator);
        const std::size_t second =
            first == std::wstring::npos ? first : s.verdict.find(kSeparator, first + 1);
        event.from = s.verdict.substr(0, first);
        if (second != std::wstring::npos) {
            event.to = s.verdict.substr(first + 1, second - first - 1);
            event.detail = s.verdict.substr(second + 1);
        }
        events.push_back(event);
    }
    return 0;
}

}  // namespace ovractl
