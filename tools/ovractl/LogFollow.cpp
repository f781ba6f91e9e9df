#include "LogFollow.h"

#include "Output.h"

#include <Ovra/LogCursor.h>
#include <Ovra/ResultCodes.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

namespace ovractl {

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

struct Collect : Ovra::LogCursorVisitor {
    explicit Collect(std::vector<CursorRecord>& out) : out(out) {}
    int OnLogRecord(const std::wstring& cursor,
                    const std::list<Ovra::LogService::FieldData>& record) override {
        out.push_back({cursor, record});
        return 0;
    }
    std::vector<CursorRecord>& out;
};

}  // namespace

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() {
    return g_stop != 0;
}

void Pause(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!StopRequested() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int LogFollower::Next(std::size_t limit, std::vector<CursorRecord>& out) {
    out.clear();
    if (!m_started) {
        m_started = true;
        if (m_start == "end") {
            if (int rc = m_log.GetCursorAtEnd(m_cursor)) return rc;
        } else {
            m_cursor = Wide(m_start);
        }
    }
    // Taken before reading: a commit during the reading moves it, and the wait returns at once.
    unsigned long long version = 0;
    if (int rc = m_log.GetDataVersion(version)) return rc;
    Collect collect(out);
    int rc = m_log.ReadAfter(m_cursor, limit, collect);
    if (rc == Ovra::result::kNotFound) {
        std::cerr << "ovractl: the cursor's position is lost (its records were deleted and the "
                     "rowid reused); reading again from the first record\n";
        m_cursor.clear();
        rc = m_log.ReadAfter(m_cursor, limit, collect);
    }
    if (rc) return rc;
    if (!out.empty()) m_cursor = out.back().cursor;
    if (out.size() < limit) m_version = version;
    return 0;
}

}  // namespace ovractl
