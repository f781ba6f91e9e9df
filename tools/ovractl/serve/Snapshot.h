#pragma once

// What one answer of `ovractl serve` shows: the watch's last readings, and the volumes, time check,
// log databases and health history read when asked. Pages are pure functions of it, so tests and
// benchmarks feed them made-up machines.

#include "../HealthLog.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/StorageLogicalDrive.h>

#include <map>
#include <string>
#include <vector>

namespace ovractl {

struct VolumeFigures {
    Ovra::LogicalDrive drive;
    int driveType = 0;  // StorageLogicalDrive::GetDriveTypeW of its root
};

struct TimeFigures {
    std::string server;
    bool answered = false;     // the last check got an answer
    double offsetSeconds = 0;  // server minus this clock, from the last answer
    long long lastSyncMs = 0;  // when a check last got an answer (GetCurTime); 0 never
};

struct LogFigures {
    std::string database;  // the path as given
    unsigned long long records = 0;
    unsigned long long fileBytes = 0;
    long long oldestMs = -1;  // time of the oldest record; -1 none
};

// The parts of a snapshot, so that an answer reads only what it shows.
enum SnapshotPart : unsigned {
    kDisks = 1,
    kVolumes = 2,
    kTime = 4,
    kLogs = 8,
    kHistory = 16,
    kEverything = 31
};

struct Snapshot {
    std::map<long long, Ovra::DiskHealth> disks;  // by disk number
    std::vector<VolumeFigures> volumes;
    TimeFigures time;
    std::vector<LogFigures> logs;  // the databases that could be read
    // Health-log readings by disk: the disk-level record (id 0) and the counters that predict
    // failure, oldest first.
    std::map<long long, std::vector<HealthSample>> history;
    // Each collector that ran ("disks", "volumes", "time", "logs", "history") and whether it
    // succeeded; a failed one still leaves the others' figures.
    std::map<std::string, bool> collectors;
    double scrapeSeconds = 0;
    long long takenMs = 0;  // GetCurTime when taken
};

}  // namespace ovractl
