#pragma once

// Disk-health readings kept in a log database: one record per disk per cycle (attribute id 0:
// temperature and verdict) and one per attribute, so that the history of any value can be read
// back; and the events of a disk watch. Uses only the exported LogService and DiskHealth.
//
// LogService keeps one table per file and cannot add a column to it, so an event is a record of
// the same columns that files of older versions have: attribute id -1, the event type as value,
// and "from<TAB>to<TAB>detail" as verdict. Older versions read such files and list an event as a
// reading of an unknown attribute.

#include <Ovra/DiskHealth.h>
#include <Ovra/DiskHealthWatch.h>
#include <Ovra/HddSmartInfo.h>
#include <Ovra/LogService.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace ovractl {

// One stored reading. Fields the record did not hold are kAbsent.
struct HealthSample {
    static const long long kAbsent = -1;
    long long time = 0;  // ms on the scale of GetCurTime
    int disk = 0;
    int id = 0;  // 0: the disk-level record
    long long value = kAbsent;
    long long worst = kAbsent;
    long long raw = kAbsent;
    long long temperature = kAbsent;
    std::wstring verdict;
};

class HealthLog {
public:
    ~HealthLog() { m_log.Close(); }
    // Opens the database, creating the table (and its indexes) when it has none. 0 or the
    // LogService result.
    int Open(const std::wstring& path);
    // Writes the records of one reading of `disk`, all or none.
    int Record(long long time, long long disk, const Ovra::DiskHealth& health);
    // Reads the health of every disk of a monitor cycle's snapshot (raw values, temperature and
    // verdict are not in the snapshot) and records it. 0, or the first failure to record.
    int RecordCycle(
        long long time,
        const std::map<std::size_t, std::map<unsigned char, Ovra::HddSmartAttr>>& snapshot);
    int RecordEvent(const Ovra::DiskHealthEvent& event);
    // The readings of `disk` and attribute `id` (each -1: all), by disk, attribute and time.
    int History(long long disk, long long id, std::vector<HealthSample>& samples);
    // The events of `disk` (-1: all), in the order they happened.
    int Events(long long disk, std::vector<Ovra::DiskHealthEvent>& events);
    // For retention settings: the service the records go to.
    Ovra::LogService& Service() { return m_log; }

private:
    int Query(const std::wstring& condition, const wchar_t* order,
              std::vector<HealthSample>& samples);

    Ovra::LogService m_log;
};

}  // namespace ovractl
