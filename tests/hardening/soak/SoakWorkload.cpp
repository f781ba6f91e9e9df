#include "SoakWorkload.h"

#include "tests/hardening/LogRecordShape.h"

#include <random>
#include <string>

namespace Ovra {
namespace hardening {

namespace {
// Durable records among the indexes 0 .. n-1.
long long DurableBelow(long long n) {
    return n - n / 4;
}
}  // namespace

SoakWorkload::SoakWorkload(LogService& log, int writers, int readers)
    : m_log(log), m_written(static_cast<size_t>(writers)), m_readers(readers) {}

SoakWorkload::~SoakWorkload() {
    Stop();
}

void SoakWorkload::Start() {
    m_stop = false;
    for (int w = 0; w < Writers(); ++w) m_threads.emplace_back([this, w] { Write(w); });
    for (int r = 0; r < m_readers; ++r) {
        m_threads.emplace_back([this, r] { Read(static_cast<unsigned>(r) * 7919u + 1u); });
    }
}

void SoakWorkload::Stop() {
    m_stop = true;
    for (std::thread& thread : m_threads) thread.join();
    m_threads.clear();
}

long long SoakWorkload::Durable(int writer) const {
    return DurableBelow(m_written[static_cast<size_t>(writer)].acknowledged.load());
}

long long SoakWorkload::Durable() const {
    long long total = 0;
    for (int w = 0; w < Writers(); ++w) total += Durable(w);
    return total;
}

long long SoakWorkload::Expiring() const {
    long long total = 0;
    for (const Writer& writer : m_written) total += writer.acknowledged.load() / 4;
    return total;
}

void SoakWorkload::Failed(long long generation, std::atomic<long long>& counter) {
    ++counter;
    if (generation % 2 == 0 && m_generation.load() == generation) ++m_unexplained;
    std::this_thread::yield();
}

void SoakWorkload::Write(int writer) {
    std::atomic<long long>& acknowledged = m_written[static_cast<size_t>(writer)].acknowledged;
    while (!m_stop) {
        const long long index = acknowledged.load();
        const long long generation = m_generation.load();
        // Refused while the service is closed for a moment: the same record is tried again.
        if (m_log.Insert(TimeOf(index), RecordData(SeqOf(writer, index), writer)) == 0) {
            acknowledged.store(index + 1);
        } else {
            Failed(generation, m_refused);
        }
    }
}

void SoakWorkload::Read(unsigned seed) {
    std::mt19937_64 random(seed);
    std::list<std::list<LogService::FieldData>> rows;
    for (long long round = 0; !m_stop; ++round) {
        const int writer = static_cast<int>(random() % static_cast<unsigned>(Writers()));
        const long long written = m_written[static_cast<size_t>(writer)].acknowledged.load();
        const long long generation = m_generation.load();
        if (round % 64 == 63) {
            // Counts only grow while nothing durable is deleted.
            const long long before = Durable();
            unsigned long long count = 0;
            if (m_log.GetRecordCount(L"WHERE Time >= " + std::to_wstring(kClock), count) != 0) {
                Failed(generation, m_readFailures);
            } else if (static_cast<long long>(count) < before) {
                ++m_undercounts;
            }
        } else if (round % 8 == 7) {
            ++m_searches;
            if (m_log.Search(
                    L"WHERE Writer = " + std::to_wstring(writer) + L" ORDER BY Seq DESC LIMIT 20",
                    rows) != 0) {
                Failed(generation, m_readFailures);
            }
        } else if (written > 0) {
            long long index =
                static_cast<long long>(random() % static_cast<unsigned long long>(written));
            if (IsExpiring(index)) --index;  // the durable record just before it
            ++m_lookups;
            const int result =
                m_log.Search(L"WHERE Seq = " + std::to_wstring(SeqOf(writer, index)), rows);
            if (result != 0) {
                Failed(generation, m_readFailures);
            } else if (rows.size() != 1) {
                ++m_missed;
            }
        }
    }
}

}  // namespace hardening
}  // namespace Ovra
