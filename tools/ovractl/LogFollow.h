#pragma once

// Reading a log from a cursor on, and waiting for what other processes insert: the data version
// is polled (no table is read) and only the rows after the last cursor are fetched.

#include <Ovra/LogService.h>

#include <list>
#include <string>
#include <vector>

namespace ovractl {

// SIGINT and SIGTERM set a flag instead of ending the process.
void CatchStopSignals();
bool StopRequested();
// Sleeps up to `ms`, less when a stop is requested.
void Pause(int ms);

struct CursorRecord {
    std::wstring cursor;
    std::list<Ovra::LogService::FieldData> record;
};

class LogFollower {
public:
    // `cursor` "end" starts after the newest record.
    LogFollower(Ovra::LogService& log, std::string cursor)
        : m_log(log), m_start(std::move(cursor)) {}
    // The next records after the cursor, at most `limit`; a lost position (121) is reported on
    // stderr and reading starts again at the first record. Returns the library's result.
    int Next(std::size_t limit, std::vector<CursorRecord>& out);
    // Waits until the file changed since the last Next that returned fewer than its limit (true),
    // or a stop is requested (false); every `pollMs` calls `tick`, whose false ends the wait too.
    template <typename Tick>
    bool WaitForChange(int pollMs, Tick tick);
    const std::wstring& Cursor() const { return m_cursor; }

private:
    Ovra::LogService& m_log;
    std::string m_start;
    bool m_started = false;
    std::wstring m_cursor;
    unsigned long long m_version = 0;
};

template <typename Tick>
bool LogFollower::WaitForChange(int pollMs, Tick tick) {
    for (;;) {
        unsigned long long now = 0;
        if (m_log.GetDataVersion(now) == 0 && now != m_version) return true;
        if (StopRequested()) return false;
        if (!tick()) return true;
        Pause(pollMs);
    }
}

}  // namespace ovractl
