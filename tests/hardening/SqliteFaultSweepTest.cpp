// Failing file I/O under the log database: the n-th read, write, sync or journal deletion of a run
// of inserts fails, for every n the run makes. Each insert reports 0 or 1; once the disk is healed
// the connection writes again, and the reopened file passes SQLite's integrity check and holds
// every record whose insert reported success. Native only (see FaultVfs.h).
#include "tests/hardening/FaultVfs.h"
#include "tests/hardening/LogRecords.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace Ovra {
namespace hardening {
namespace {

const int kInserts = 12;

struct Scenario {
    const char* name;
    IoKind kind;
    int error;
    bool sticky;  // every later call fails too, until the disk is healed
};

TEST(SqliteFaultSweep, EveryAcknowledgedRecordSurvivesEveryFailingCall) {
    const Scenario scenarios[] = {
        {"disk full (writes)", kWrite, SQLITE_FULL, true},
        {"one write error", kWrite, SQLITE_IOERR_WRITE, false},
        {"one sync error", kSync, SQLITE_IOERR_FSYNC, false},
        {"one read error", kRead, SQLITE_IOERR_READ, false},
        {"unreadable disk", kRead, SQLITE_IOERR_READ, true},
        {"journal not deleted", kDelete, SQLITE_IOERR_DELETE, false},
        {"journals never deleted", kDelete, SQLITE_IOERR_DELETE, true},
    };
    testing_support::ScratchDir dir;
    FaultVfs vfs;
    int trial = 0;
    for (const Scenario& scenario : scenarios) {
        // nth 0 is the healthy run, which counts the calls; one trial goes past the last call.
        int calls = 0, faults = 0, acknowledgedAll = 0;
        for (int nth = 0; nth <= calls + 1; ++nth) {
            const std::wstring path = dir.WidePath("trial-" + std::to_string(++trial) + ".db");
            LogService log;
            ASSERT_EQ(log.Open(path), 0);
            ASSERT_EQ(EnsureTable(log), 0);
            vfs.Arm(scenario.kind, nth, scenario.error, scenario.sticky);
            std::set<long long> acknowledged;
            for (long long seq = 1; seq <= kInserts; ++seq) {
                const int result = log.Insert(seq, RecordData(seq, 0));
                ASSERT_TRUE(result == 0 || result == 1) << result;
                if (result == 0) acknowledged.insert(seq);
            }
            if (nth == 0) calls = vfs.calls[scenario.kind];
            faults += vfs.faults;
            if (!scenario.sticky) {
                EXPECT_GE(acknowledged.size(), kInserts - 1u) << scenario.name;
            }
            // A full disk may outlast the connection: the next opener finds the journal of the
            // transaction that could not be rolled back.
            if (scenario.sticky && nth % 2 == 0) log.Close();
            vfs.Arm(kRead, 0, SQLITE_OK, false);  // healed
            if (!log.IsOpened()) {
                ASSERT_EQ(log.Open(path), 0);
            }
            ASSERT_EQ(log.Insert(kInserts + 1, RecordData(kInserts + 1, 0)), 0);
            acknowledged.insert(kInserts + 1);
            EXPECT_EQ(log.IsBrokenLogFile(), 0) << "an I/O error is no corruption";
            log.Close();

            EXPECT_EQ(IntegrityCheck(dir.Utf8Path("trial-" + std::to_string(trial) + ".db")), "ok");
            ASSERT_EQ(log.Open(path), 0);
            Rows rows;
            ASSERT_EQ(log.Search(L"", rows), 0);
            size_t duplicates = 0;
            const std::set<long long> found = SequenceNumbers(rows, duplicates);
            EXPECT_EQ(duplicates, 0u);
            for (long long seq : acknowledged) {
                EXPECT_EQ(found.count(seq), 1u) << scenario.name << ", call " << nth << ": " << seq;
            }
            acknowledged.erase(kInserts + 1);
            acknowledgedAll += static_cast<int>(acknowledged.size());
        }
        std::printf("%-22s calls/run %3d  faults %4d  acknowledged %4d\n", scenario.name, calls,
                    faults, acknowledgedAll);
        EXPECT_GT(faults, calls > 0 ? 0 : -1) << scenario.name;
    }
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra
