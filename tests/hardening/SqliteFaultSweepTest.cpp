// Failing file I/O under the log database: the n-th read, write, sync or journal deletion of a run
// of inserts fails, for every n the run makes. Each insert reports 0 or 1; once the disk is healed
// the connection writes again, and the reopened file is sound and holds every record whose insert
// reported success. Native only (see FaultVfs.h).
#include "tests/hardening/FaultVfs.h"
#include "tests/hardening/LogRecords.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace hardening {
namespace {

TEST(SqliteFaultSweep, EveryAcknowledgedRecordSurvivesEveryFailingCall) {
    const struct {
        IoKind kind;
        int error;
        bool sticky;  // every later call fails too, until the disk is healed: a full disk
    } scenarios[] = {{kWrite, SQLITE_FULL, true},         {kWrite, SQLITE_IOERR_WRITE, false},
                     {kSync, SQLITE_IOERR_FSYNC, false},  {kRead, SQLITE_IOERR_READ, false},
                     {kRead, SQLITE_IOERR_READ, true},    {kDelete, SQLITE_IOERR_DELETE, false},
                     {kDelete, SQLITE_IOERR_DELETE, true}};
    testing_support::ScratchDir dir;
    FaultVfs vfs;
    int trial = 0;
    for (const auto& scenario : scenarios) {
        // nth 0 is the healthy run, which counts the calls; one trial goes past the last call.
        int calls = 0, faults = 0;
        for (int nth = 0; nth <= calls + 1; ++nth) {
            const std::string path = dir.Path("trial-" + std::to_string(++trial) + ".db").string();
            SCOPED_TRACE(path);
            LogService log;
            ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
            ASSERT_EQ(EnsureTable(log), 0);
            vfs.Arm(scenario.kind, nth, scenario.error, scenario.sticky);
            std::set<long long> acknowledged;
            for (long long seq = 1; seq <= 13; ++seq) {
                // The 13th insert comes after the disk is healed: the connection writes again.
                if (seq == 13) vfs.Arm(kRead, 0, SQLITE_OK, false);
                // A full disk may outlast the connection: the next opener finds the journal.
                if (seq == 13 && scenario.sticky && nth % 2 == 0) log.Close();
                ASSERT_EQ(log.IsOpened() ? 0 : log.Open(std::filesystem::path(path).wstring()), 0);
                const int result = log.Insert(seq, RecordData(seq, 5 * static_cast<int>(seq)));
                ASSERT_TRUE(result == 0 || (result == 1 && seq < 13)) << result;
                if (result == 0) acknowledged.insert(seq);
                if (seq == 12 && nth == 0) calls = vfs.calls[scenario.kind];
                if (seq == 12) faults += vfs.faults;
            }
            EXPECT_GE(acknowledged.size(), scenario.sticky ? 1u : 12u);
            EXPECT_EQ(log.IsBrokenLogFile(), 0) << "an I/O error is no corruption";
            log.Close();
            size_t present = 0;
            EXPECT_EQ(Damage(path, acknowledged, present), "");
        }
        EXPECT_GT(faults, calls > 0 ? 0 : -1) << trial;
    }
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra
