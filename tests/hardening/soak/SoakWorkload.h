#pragma once

// The traffic of the soak: writers that insert numbered records and retry each one until it is
// acknowledged, and readers that look acknowledged records up again while everything runs.
//
// Record times are chosen so that retention (0 minutes against a clock that never moves) can only
// delete the "expiring" records, which are dated before the clock, and never the "durable" ones,
// dated at or after it. Durable records must therefore all be there at the end, and every
// expiring one must be gone after a final deletion pass.

#include <Ovra/LogService.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace Ovra {
namespace hardening {

class SoakWorkload {
public:
    static const long long kClock = 1700000000000LL;

    SoakWorkload(LogService& log, int writers, int readers);
    ~SoakWorkload();
    SoakWorkload(const SoakWorkload&) = delete;
    SoakWorkload& operator=(const SoakWorkload&) = delete;

    void Start();
    void Stop();  // joins every thread

    // Brackets a close and reopen of the service: only calls that overlap such a window may fail.
    void BeginReopen() { ++m_generation; }
    void EndReopen() { ++m_generation; }

    static long long SeqOf(int writer, long long index) { return writer * 1000000000000LL + index; }
    static bool IsExpiring(long long index) { return index % 4 == 3; }
    static long long TimeOf(long long index) {
        return IsExpiring(index) ? kClock - 1 - index % 1000 : kClock + index;
    }

    int Writers() const { return static_cast<int>(m_written.size()); }
    // Acknowledged records of one writer, and of all: durable and expiring.
    long long Durable(int writer) const;
    long long Durable() const;
    long long Expiring() const;
    long long Refused() const { return m_refused.load(); }
    long long Lookups() const { return m_lookups.load(); }
    long long Missed() const { return m_missed.load(); }
    long long Searches() const { return m_searches.load(); }
    long long Undercounts() const { return m_undercounts.load(); }
    long long ReadFailures() const { return m_readFailures.load(); }
    // Failures of inserts or reads that no reopening explains.
    long long Unexplained() const { return m_unexplained.load(); }

private:
    struct Writer {
        std::atomic<long long> acknowledged{0};  // indexes 0 .. acknowledged-1 are written
    };

    void Write(int writer);
    void Read(unsigned seed);
    // Counts a failure of a call that began at `generation`.
    void Failed(long long generation, std::atomic<long long>& counter);

    LogService& m_log;
    std::vector<Writer> m_written;
    int m_readers;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_refused{0};
    std::atomic<long long> m_lookups{0};
    std::atomic<long long> m_missed{0};
    std::atomic<long long> m_searches{0};
    std::atomic<long long> m_undercounts{0};
    std::atomic<long long> m_readFailures{0};
    std::atomic<long long> m_unexplained{0};
    std::atomic<long long> m_generation{0};  // odd while the service is being reopened
};

}  // namespace hardening
}  // namespace Ovra
