// ovra_soak [SECONDS]: writers insert numbered records into one LogService while readers look them
// up, and its retention worker, SMART monitors against a simulated disk and a time-sync worker
// against a scripted server are started and stopped over and over, the database reopened now and
// then. At the end nothing acknowledged may be missing, retention must have removed exactly what
// it was allowed to, and resident memory must not have grown after the warm-up. Prints its
// figures; exits nonzero when a check fails. Linux: it reads its memory from /proc.
//
// Time is the FakePlatform's: the clock stands still and every worker wait ends only when the
// main thread lets one through the WaitGate, so each round runs a known number of worker cycles.
#include <Ovra/HddSmartInfo.h>
#include <Ovra/TimeSyncService.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/timesync/ScriptedNtp.h"
#include "tests/hardening/LogRecords.h"
#include "tests/support/ScratchDir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace Ovra {
namespace hardening {
namespace {

const long long kClock = 1700000000000LL;
const int kWriters = 4;
const int kReaders = 2;

// Resident kB now, from /proc/self/status.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Record i of writer w: every fourth one is dated before the clock, so that retention (0 minutes
// against a clock that never moves) deletes it; the others must all stay.
long long SeqOf(int w, long long i) {
    return w * 1000000000000LL + i;
}
bool Expiring(long long i) {
    return i % 4 == 3;
}
long long Durable(long long written) {
    return written - written / 4;
}

struct Counts {
    std::atomic<long long> refused{0}, lookups{0}, missed{0}, readFailures{0}, unexplained{0},
        smartCycles{0}, wrongSnapshots{0}, clockSets{0}, wrongClocks{0};
};

class Watcher : public HddSmartInfoObserver, public TimeSyncServiceObserver {
public:
    explicit Watcher(Counts& counts) : m_counts(counts) {}
    // Only the simulated disk 0 exists; when a cycle read it, its values are the disk's.
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        ++m_counts.smartCycles;
        std::map<size_t, std::map<unsigned char, HddSmartAttr>> all;
        info->GetSmartAttr(all);
        if (!all.empty() && (all.size() != 1 || !all.count(0) || !all[0].count(5) ||
                             all[0][5].value != 100 || all[0][5].threshold != 36))
            ++m_counts.wrongSnapshots;
    }
    // Every clock the time service sets must be the soak's own, so that records keep their ages.
    void OnTimeSync(TimeSyncService*, int code, long long& time, const std::wstring&) override {
        if (code == 1901) return;
        ++m_counts.clockSets;
        if (code != 0 || time != kClock) ++m_counts.wrongClocks;
    }

private:
    Counts& m_counts;
};

int Run(long long seconds) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope(fake);
    fake.SetTime(kClock);
    fake.EnableWaitGate(true);
    fake.AddDevice(
        fakes::PhysicalDrivePath(0),
        fakes::SmartDisk(fakes::SmartPage({{5, 0x33, 0, 100, 100}}), fakes::SmartPage({{5, 36}})));
    fake.AddModule(fakes::NtpLibraryPath(), fakes::ScriptedNtp::Module());
    fakes::ScriptedNtp::Instance().Reset();
    fakes::ScriptedNtp::Instance().Script(L"ntp.soak", 0, kClock);
    testing_support::ScratchDir dir;
    const std::wstring path = dir.WidePath("soak.db");
    struct : LogService {
        using LogService::DeleteOldRecord;
    } log;
    Counts counts;
    Watcher watcher(counts);
    HddSmartInfo monitor;
    TimeSyncService time;
    monitor.SetObserver(&watcher);
    monitor.SetCheckAllDisks(1);
    time.SetScheduleTimeServer({L"ntp.soak"});
    time.EnableScheduleSync(1);
    time.SetObserver(&watcher);
    if (log.Open(path) != 0 || EnsureTable(log) != 0 || time.Create() != 0) return 1;
    log.SetRetentionTime(0);

    // Writers retry each record until it is acknowledged; a failure is explained only by a
    // reopening in progress (an odd generation) or one that happened meanwhile.
    std::atomic<bool> stop{false};
    std::atomic<long long> generation{0};
    std::vector<std::atomic<long long>> written(kWriters);
    const auto failed = [&](long long began, std::atomic<long long>& counter) {
        ++counter;
        if (began % 2 == 0 && generation == began) ++counts.unexplained;
        std::this_thread::yield();
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            while (!stop) {
                const long long i = written[w], began = generation;
                const long long at = Expiring(i) ? kClock - 1 - i % 1000 : kClock + i;
                if (log.Insert(at, RecordData(SeqOf(w, i), w)) == 0) {
                    written[w] = i + 1;
                } else {
                    failed(began, counts.refused);
                }
            }
        });
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&, r] {
            Rows rows;
            for (unsigned long long n = r; !stop;
                 n = n * 6364136223846793005ULL + 1442695040888963407ULL) {
                const int w = static_cast<int>(n >> 60) % kWriters;
                const long long known = written[w], began = generation;
                if (known == 0) continue;
                long long i = static_cast<long long>((n >> 20) % known);
                i -= Expiring(i);  // the durable record before an expiring one
                ++counts.lookups;
                if (log.Search(L"WHERE Seq = " + std::to_wstring(SeqOf(w, i)), rows) != 0) {
                    failed(began, counts.readFailures);
                } else if (rows.size() != 1) {
                    ++counts.missed;
                }
            }
        });
    }

    // Rounds: every worker started, eight gated cycles, stopped again; a monitor made, assigned
    // mid-round and destroyed; every fifth round the database reopened under the writers.
    const auto begin = std::chrono::steady_clock::now();
    long rounds = 0, stalls = 0, reopenFailures = 0, warmKb = -1;
    const long startKb = ResidentKb();
    while (std::chrono::steady_clock::now() < begin + std::chrono::seconds(seconds)) {
        {
            HddSmartInfo passing;
            passing.SetObserver(&watcher);
            passing.AddCheckDisk(0);
            passing.EnableCheck(1);
            log.EnableRetention(1);
            monitor.EnableCheck(1);
            if (time.Start() != 0) ++counts.wrongClocks;
            time.SyncTimeServerNow(L"ntp.soak");
            for (int step = 0; step < 8; ++step) {
                if (step == 4) passing = monitor;  // now shares its record
                const std::uint64_t entered = fake.Gate().Entered();
                fake.Gate().Elapse(1);
                stalls += !fake.Gate().AwaitEntered(entered + 1, 5000);
            }
            log.EnableRetention(0);
            monitor.EnableCheck(0);
            time.Stop();
        }
        fake.ClearCalls();  // the call log would otherwise grow without end
        if (++rounds % 5 == 0) {
            ++generation;
            log.Close();
            reopenFailures += log.Open(path) != 0;
            ++generation;
        }
        if (warmKb < 0 &&
            std::chrono::steady_clock::now() >= begin + std::chrono::seconds(seconds) / 4)
            warmKb = ResidentKb();
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();
    time.Destroy();
    const long endKb = ResidentKb();

    long long durable = 0, acknowledged = 0, perWriterMismatches = 0;
    unsigned long long found = 0, expiringLeft = 0, total = 0;
    const std::wstring durableClause = L"WHERE Time >= " + std::to_wstring(kClock);
    for (int w = 0; w < kWriters; ++w) {
        durable += Durable(written[w]);
        acknowledged += written[w];
        log.GetRecordCount(durableClause + L" AND Batch = " + std::to_wstring(w), found);
        perWriterMismatches += static_cast<long long>(found) != Durable(written[w]);
    }
    Rows repeated;
    const int checks = log.Search(L"GROUP BY Seq HAVING COUNT(*) > 1", repeated) |
                       log.GetRecordCount(durableClause, found);
    log.DeleteOldRecord();
    log.GetRecordCount(L"WHERE Time < " + std::to_wstring(kClock), expiringLeft);
    log.GetRecordCount(L"", total);
    log.Close();
    const std::string integrity = IntegrityCheck(dir.Utf8Path("soak.db"));
#if defined(__SANITIZE_ADDRESS__)
    const bool judged = false;  // ASan keeps freed blocks in quarantine; its leak check judges
#else
    const bool judged = true;
#endif
    const bool flat = !judged || (warmKb >= 0 && endKb - warmKb <= std::max(8L * 1024, warmKb / 4));
    const bool intact = checks == 0 && static_cast<long long>(found) == durable &&
                        perWriterMismatches == 0 && repeated.empty() && expiringLeft == 0 &&
                        static_cast<long long>(total) == durable && counts.missed == 0 &&
                        counts.unexplained == 0 && counts.wrongSnapshots == 0 &&
                        counts.wrongClocks == 0 && reopenFailures == 0 && integrity == "ok";
    std::printf("\nsoak: %lld s, %ld rounds, %d writers, %d readers\n", seconds, rounds, kWriters,
                kReaders);
    std::printf("  records acknowledged %lld, durable %lld, found %llu at the end\n", acknowledged,
                durable, total);
    std::printf("  inserts refused while reopening %lld, reopenings %ld (%ld failed)\n",
                counts.refused.load(), rounds / 5, reopenFailures);
    std::printf("  lookups %lld, missed %lld, refused while reopening %lld, unexplained %lld\n",
                counts.lookups.load(), counts.missed.load(), counts.readFailures.load(),
                counts.unexplained.load());
    std::printf("  SMART cycles %lld (%lld wrong), clocks set %lld (%lld wrong), gate stalls %ld\n",
                counts.smartCycles.load(), counts.wrongSnapshots.load(), counts.clockSets.load(),
                counts.wrongClocks.load(), stalls);
    std::printf("  duplicated %zu, expiring left after the final pass %llu, integrity %s\n",
                repeated.size(), expiringLeft, integrity.c_str());
    std::printf("  VmRSS start %ld kB, after warm-up %ld kB, end %ld kB\n", startKb, warmKb, endKb);
    std::printf("soak: %s, memory %s\n", intact ? "nothing lost" : "FAILED",
                !judged ? "not judged (AddressSanitizer)"
                : flat  ? "flat"
                        : "GREW");
    return intact && flat ? 0 : 1;
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra

int main(int argc, char** argv) {
    const char* text = argc > 1 ? argv[1] : std::getenv("SOAK_SECONDS");
    const long long seconds = text ? std::atoll(text) : 0;
    return Ovra::hardening::Run(seconds > 0 ? seconds : 120);
}
