// ovra_soak [SECONDS]: writers insert numbered records into one LogService while readers look them
// up, its retention worker, SMART monitors against a simulated disk and a time-sync worker against
// a scripted server are started and stopped round after round. Exits nonzero when an acknowledged
// record is missing, retention removed other than the expired ones, a worker reported wrong
// values, or resident memory (Linux: /proc) grew after the first quarter of the run.
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

namespace Ovra {
namespace hardening {
namespace {

const long long kClock = 1700000000000LL;
const int kWriters = 4;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && line.compare(0, 6, "VmRSS:") != 0) {
    }
    return status ? std::atol(line.c_str() + 6) : -1;
}

class Watcher : public HddSmartInfoObserver, public TimeSyncServiceObserver {
public:
    std::atomic<long long> faults{0};
    // Only the simulated disk 0 exists; when a cycle read it, its values are the disk's.
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        std::map<size_t, std::map<unsigned char, HddSmartAttr>> all;
        info->GetSmartAttr(all);
        faults += !all.empty() &&
                  (all.size() != 1 || all[0][5].value != 100 || all[0][5].threshold != 36);
    }
    void OnTimeSync(TimeSyncService*, int code, long long& time, const std::wstring&) override {
        faults += code != 1901 && (code != 0 || time != kClock);
    }
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
    fakes::ScriptedNtp::Instance().Script(L"ntp.soak", 0, kClock);
    testing_support::ScratchDir dir;
    struct : LogService {
        using LogService::DeleteOldRecord;
    } log;
    Watcher watcher;
    HddSmartInfo monitor;
    TimeSyncService time;
    monitor.SetObserver(&watcher);
    monitor.SetCheckAllDisks(1);
    time.SetScheduleTimeServer({L"ntp.soak"});
    time.EnableScheduleSync(1);
    time.SetObserver(&watcher);
    if (log.Open(dir.WidePath("soak.db")) != 0 || EnsureTable(log) != 0 || time.Create() != 0)
        return 1;
    log.SetRetentionTime(0);

    // Writers and readers: every insert and search must succeed, every lookup find its record.
    // Record i of writer w is number i * kWriters + w; every fourth one is dated before the clock,
    // so that retention (0 minutes against a clock that never moves) deletes it.
    std::atomic<bool> stop{false};
    std::atomic<long long> failures{0}, lookups{0};
    std::vector<std::atomic<long long>> written(kWriters);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2 * kWriters; ++t) {
        threads.emplace_back([&, t] {
            const int w = t % kWriters;
            Rows rows;
            for (long long i = 0, n = 0; !stop; ++n) {
                if (t < kWriters) {
                    const long long at = i % 4 == 3 ? kClock - 1 - i % 1000 : kClock + i;
                    failures += log.Insert(at, RecordData(i * kWriters + w, 0)) != 0;
                    written[w] = ++i;
                } else if (written[w] > 0) {
                    const long long j = (n * 7919) % written[w],
                                    seq = (j - (j % 4 == 3)) * kWriters + w;
                    ++lookups;
                    failures += log.Search(L"WHERE Seq = " + std::to_wstring(seq), rows) != 0 ||
                                rows.size() != 1;
                }
            }
        });
    }

    // Rounds: every worker started, eight gated cycles, stopped again; a monitor made, assigned
    // mid-round and destroyed.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long rounds = 0, warmKb = -1;
    while (std::chrono::steady_clock::now() < end) {
        {
            HddSmartInfo passing;
            passing.SetObserver(&watcher);
            passing.AddCheckDisk(0);
            passing.EnableCheck(1);
            log.EnableRetention(1);
            monitor.EnableCheck(1);
            failures += time.Start() != 0;
            time.SyncTimeServerNow(L"ntp.soak");
            for (int step = 0; step < 8; ++step) {
                if (step == 4) passing = monitor;  // now shares its record
                const std::uint64_t entered = fake.Gate().Entered();
                fake.Gate().Elapse(1);
                failures += !fake.Gate().AwaitEntered(entered + 1, 5000);
            }
            log.EnableRetention(0);
            monitor.EnableCheck(0);
            time.Stop();
        }
        fake.ClearCalls();  // the call log would otherwise grow without end
        ++rounds;
        if (warmKb < 0 &&
            std::chrono::steady_clock::now() >= end - std::chrono::seconds(seconds) * 3 / 4)
            warmKb = ResidentKb();
    }
    stop = true;
    for (std::thread& thread : threads) thread.join();
    time.Destroy();
    const long endKb = ResidentKb();

    // The durable records are all there once; after a last retention pass nothing else is.
    unsigned long long durable = 0, kept = 0, total = 0;
    for (int w = 0; w < kWriters; ++w) durable += written[w] - written[w] / 4;
    log.GetRecordCount(L"WHERE Time >= " + std::to_wstring(kClock), kept);
    log.DeleteOldRecord();
    log.GetRecordCount(L"", total);
    const bool lost = kept != durable || total != durable;
#if defined(__SANITIZE_ADDRESS__)
    const bool flat = true;  // ASan keeps freed blocks in quarantine; its leak check judges
#else
    const bool flat = warmKb >= 0 && endKb - warmKb <= std::max(8L * 1024, warmKb / 4);
#endif
    const bool failed = lost || failures || watcher.faults;
    std::printf(
        "\nsoak: %lld s, %ld rounds, %llu durable, %llu kept, %llu left, %lld lookups, "
        "%lld failures, %lld wrong reports; VmRSS %ld -> %ld kB\nsoak: %s, memory %s\n",
        seconds, rounds, durable, kept, total, lookups.load(), failures.load(),
        watcher.faults.load(), warmKb, endKb, failed ? "FAILED" : "nothing lost",
        flat ? "flat" : "GREW");
    return failed || !flat ? 1 : 0;
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra

int main(int argc, char** argv) {
    const char* text = argc > 1 ? argv[1] : std::getenv("SOAK_SECONDS");
    const long long seconds = text ? std::atoll(text) : 0;
    return Ovra::hardening::Run(seconds > 0 ? seconds : 120);
}
