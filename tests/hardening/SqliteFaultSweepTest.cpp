// Failing file I/O under the log database: the n-th read, write, sync or journal deletion of a run
// of inserts fails, for every n the run makes. Each insert reports 0 or 1 and never crashes; once
// the disk is healed and the file reopened it passes SQLite's integrity check and holds every
// record whose insert reported success.
//
// Native only: the fault VFS reaches this process's SQLite, which the library shares natively;
// the Windows DLL has a private SQLite copy out of a test's reach.
#include "FaultVfs.h"
#include "LogRecordShape.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace Ovra {
namespace hardening {
namespace {

const int kInserts = 12;

// A raw connection of this process's SQLite, for what the service cannot say.
class RawConnection {
public:
    explicit RawConnection(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(m_db);
            m_db = nullptr;
        }
    }
    ~RawConnection() { sqlite3_close(m_db); }
    bool IsOpen() const { return m_db != nullptr; }

    std::vector<std::string> Column(const char* sql) {
        std::vector<std::string> values;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) return values;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            values.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        sqlite3_finalize(statement);
        return values;
    }

private:
    sqlite3* m_db = nullptr;
};

struct Scenario {
    const char* name;
    IoKind kind;
    int error;
    bool sticky;  // every later call fails too, until the disk is healed
};

struct Tally {
    int trials = 0;
    int inserted = 0;
    int acknowledged = 0;
    int faults = 0;
    int found = 0;
    int foundUnacknowledged = 0;
};

class SqliteFaultSweep : public testing::Test {
protected:
    std::string DbPath(int trial) const {
        return dir.Path("trial-" + std::to_string(trial) + ".db").string();
    }

    // A database with the table and its indexes, as a server leaves it after its first start.
    void Prepare(const std::string& path) {
        LogService log;
        ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        ASSERT_EQ(EnsureTable(log), 0);
    }

    // The calls of `kind` that the inserts make on a healthy disk.
    int CallsOfHealthyRun(IoKind kind) {
        const std::string path =
            dir.Path("healthy-" + std::to_string(++healthyRuns) + ".db").string();
        Prepare(path);
        LogService log;
        EXPECT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        vfs.ResetCounts();
        for (int i = 0; i < kInserts; ++i) EXPECT_EQ(log.Insert(i, RecordData(i, 0)), 0);
        return vfs.Calls(kind);
    }

    // One run of inserts with the n-th call of the scenario's kind failing.
    void RunTrial(const Scenario& scenario, int trial, int nth, Tally& tally) {
        const std::string path = DbPath(trial);
        Prepare(path);
        LogService log;
        ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        vfs.ResetCounts();
        vfs.Arm(scenario.kind, nth, scenario.error, scenario.sticky);
        std::set<long long> acknowledged;
        int failed = 0;
        for (long long seq = 1; seq <= kInserts; ++seq) {
            const int result = log.Insert(seq, RecordData(seq, 0));
            ASSERT_TRUE(result == 0 || result == 1) << "result " << result;
            if (result == 0) acknowledged.insert(seq);
            failed += result;
        }
        const int faults = vfs.Faults();
        if (!scenario.sticky) {
            EXPECT_LE(failed, 1) << "one passing fault kept failing inserts";
        }
        // A full disk may also outlast the connection: the next opener then finds the journal
        // of the transaction that could not be rolled back.
        if (scenario.sticky && nth % 2 == 0) {
            log.Close();
            vfs.Heal();
            ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        } else {
            vfs.Heal();
        }
        // Once the disk answers again the connection writes again.
        ASSERT_EQ(log.Insert(kInserts + 1, RecordData(kInserts + 1, 0)), 0);
        acknowledged.insert(kInserts + 1);
        EXPECT_EQ(log.IsBrokenLogFile(), 0) << "an I/O error is no corruption";
        log.Close();

        {
            RawConnection raw(path);
            ASSERT_TRUE(raw.IsOpen());
            EXPECT_EQ(raw.Column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
        }
        ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        std::list<std::list<LogService::FieldData>> rows;
        ASSERT_EQ(log.Search(L"", rows), 0);
        unsigned long long count = 0;
        ASSERT_EQ(log.GetRecordCount(L"", count), 0);
        EXPECT_EQ(count, rows.size());
        size_t duplicates = 0;
        const std::set<long long> found = SequenceNumbers(rows, &duplicates);
        EXPECT_EQ(duplicates, 0u);
        int foundAcknowledged = 0;
        for (long long seq : acknowledged) {
            if (found.count(seq)) {
                ++foundAcknowledged;
            } else {
                ADD_FAILURE() << "acknowledged record " << seq << " lost (" << scenario.name
                              << ", call " << nth << ")";
            }
        }
        tally.trials += 1;
        tally.inserted += kInserts + 1;
        tally.acknowledged += static_cast<int>(acknowledged.size());
        tally.faults += faults;
        tally.found += foundAcknowledged;
        tally.foundUnacknowledged += static_cast<int>(found.size()) - foundAcknowledged;
    }

    static void Print(const Scenario& scenario, int healthyCalls, const Tally& tally) {
        std::printf(
            "%-22s calls/run %3d  trials %3d  inserted %4d  faults %4d  acknowledged %4d"
            "  found %4d  found unacknowledged %d\n",
            scenario.name, healthyCalls, tally.trials, tally.inserted, tally.faults,
            tally.acknowledged, tally.found, tally.foundUnacknowledged);
    }

    testing_support::ScratchDir dir;
    FaultVfs vfs;
    int healthyRuns = 0;
};

TEST_F(SqliteFaultSweep, EveryAcknowledgedRecordSurvivesEveryFailingCall) {
    const Scenario scenarios[] = {
        {"disk full (writes)", IoKind::Write, SQLITE_FULL, true},
        {"one write error", IoKind::Write, SQLITE_IOERR_WRITE, false},
        {"one sync error", IoKind::Sync, SQLITE_IOERR_FSYNC, false},
        {"one read error", IoKind::Read, SQLITE_IOERR_READ, false},
        {"unreadable disk", IoKind::Read, SQLITE_IOERR_READ, true},
        {"journal not deleted", IoKind::Delete, SQLITE_IOERR_DELETE, false},
        {"journals never deleted", IoKind::Delete, SQLITE_IOERR_DELETE, true},
    };
    int trial = 1;
    for (const Scenario& scenario : scenarios) {
        const int healthyCalls = CallsOfHealthyRun(scenario.kind);
        Tally tally;
        // One trial past the last call: a fault that never comes must cost nothing.
        for (int nth = 1; nth <= healthyCalls + 1; ++nth) {
            RunTrial(scenario, trial++, nth, tally);
            if (HasFatalFailure()) return;
        }
        Print(scenario, healthyCalls, tally);
        EXPECT_EQ(tally.found, tally.acknowledged) << scenario.name;
        if (healthyCalls > 0) {
            EXPECT_GT(tally.faults, 0) << scenario.name;
        }
    }
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra
