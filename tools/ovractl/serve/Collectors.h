#pragma once

// The live sources of a snapshot: the watch's readings, the volumes, a time check, the log
// databases and the health log. Volumes, logs and history are read when asked; the time check is
// kept for a minute, so that frequent scrapes query the time server at most once a minute.

#include "Snapshot.h"

#include <Ovra/LogService.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ovractl {

struct CollectorOptions {
    std::vector<std::string> logs;  // log databases whose figures are served
    std::string healthLog;          // a health log: plotted, and where polls are recorded
    std::string timeServer;
    unsigned int timeTimeoutMs = 1000;
};

class Collectors {
public:
    using Readings = std::function<std::map<long long, Ovra::DiskHealth>()>;

    Collectors(CollectorOptions options, Readings readings);
    ~Collectors();
    // Opens the databases: empty, or what could not be opened (a database that does not exist is
    // not created).
    std::string Open();
    Snapshot Collect(unsigned parts);
    // Records one poll in the health log, when there is one. 0 or the log's result.
    int RecordPoll(long long time, const std::map<long long, Ovra::DiskHealth>& readings);

private:
    void CollectTime(Snapshot& s);
    void CollectLogs(Snapshot& s);
    void CollectHistory(Snapshot& s);

    CollectorOptions m_options;
    Readings m_readings;
    std::vector<std::unique_ptr<Ovra::LogService>> m_logs;
    std::mutex m_healthMutex;  // the recorder and the page share the health log
    std::unique_ptr<HealthLog> m_health;
    std::mutex m_timeMutex;
    TimeFigures m_time;
    std::chrono::steady_clock::time_point m_checked;
    bool m_everChecked = false;
};

}  // namespace ovractl
