// Failing file I/O under the log database: the n-th read, write, sync or journal deletion of a run
// of inserts fails, for every n the run makes. Each insert reports 0 or 1; once the disk is healed
// the connection writes again, and the reopened file is sound and holds every record whose insert
// reported success. Native only: the Windows DLL carries its own SQLite copy, which no test can
// register a VFS with.
#include "tests/hardening/LogRecords.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <tuple>

namespace Ovra::hardening {
namespace {

enum IoKind { kRead, kWrite, kSync, kDelete };

// The fault to inject: the `nth` call of `kind` (none for 0) fails with `error`, and with `sticky`
// every later call of that kind too (a full disk stays full). Assigning a new one counts anew.
struct Fault {
    IoKind kind = kRead;
    int nth = 0, error = SQLITE_OK;
    bool sticky = false;
    int calls = 0, faults = 0;  // of `kind`, and injected
    // SQLITE_OK, or the error to inject into this call of `io`; nth counts down to 1, the failing
    // call, where a sticky fault stays and a passing one goes on to 0.
    int Hit(IoKind io) {
        if (io != kind) return SQLITE_OK;
        ++calls;
        if (nth == 0 || --nth > 0) return SQLITE_OK;
        nth = sticky ? 1 : 0;
        ++faults;
        return error;
    }
} g_fault;

sqlite3_vfs* g_real;                      // the default VFS
const sqlite3_io_methods* g_realMethods;  // of its files
sqlite3_io_methods g_methods;             // the same but for reads, writes and syncs

template <IoKind kind, auto method, typename... Args>
int Faulty(sqlite3_file* file, Args... args) {
    const int error = g_fault.Hit(kind);
    return error ? error : (g_realMethods->*method)(file, args...);
}

// An SQLite VFS for tests: the default VFS, with the reads, writes and syncs of its files and its
// deletions of files (a rollback journal's deletion commits its transaction) subject to g_fault.
// Everything else is the default VFS's own. It is the default VFS while it lives, for one thread.
struct FaultVfs {
    sqlite3_vfs m_vfs;
    FaultVfs() : m_vfs(*(g_real = sqlite3_vfs_find(nullptr))) {
        using M = sqlite3_io_methods;
        m_vfs.zName = "ovra-fault";
        m_vfs.xOpen = [](sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out) {
            const int rc = g_real->xOpen(g_real, name, file, flags, out);
            if (file->pMethods && !g_realMethods) {
                g_realMethods = file->pMethods;
                g_methods = *file->pMethods;
                g_methods.xRead = Faulty<kRead, &M::xRead, void*, int, sqlite3_int64>;
                g_methods.xWrite = Faulty<kWrite, &M::xWrite, const void*, int, sqlite3_int64>;
                g_methods.xSync = Faulty<kSync, &M::xSync, int>;
            }
            // The default VFS has one kind of file; any other would be left alone.
            if (file->pMethods == g_realMethods) file->pMethods = &g_methods;
            return rc;
        };
        m_vfs.xDelete = [](sqlite3_vfs*, const char* name, int syncDir) {
            const int error = g_fault.Hit(kDelete);
            return error ? error : g_real->xDelete(g_real, name, syncDir);
        };
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~FaultVfs() {
        sqlite3_vfs_register(g_real, 1);
        sqlite3_vfs_unregister(&m_vfs);
    }
};

TEST(SqliteFaultSweep, EveryAcknowledgedRecordSurvivesEveryFailingCall) {
    // Sticky: every later call fails too, until the disk is healed, as on a full disk.
    const std::tuple<IoKind, int, bool> scenarios[] = {
        {kWrite, SQLITE_FULL, true},         {kWrite, SQLITE_IOERR_WRITE, false},
        {kSync, SQLITE_IOERR_FSYNC, false},  {kRead, SQLITE_IOERR_READ, false},
        {kRead, SQLITE_IOERR_READ, true},    {kDelete, SQLITE_IOERR_DELETE, false},
        {kDelete, SQLITE_IOERR_DELETE, true}};
    testing_support::ScratchDir dir;
    FaultVfs vfs;
    int trial = 0;
    for (const auto& [kind, error, sticky] : scenarios) {
        // nth 0 is the healthy run, which counts the calls; one trial goes past the last call.
        int calls = 0, faults = 0;
        for (int nth = 0; nth <= calls + 1; ++nth) {
            const std::string path = dir.Path("trial-" + std::to_string(++trial) + ".db").string();
            SCOPED_TRACE(path);
            LogService log;
            ASSERT_TRUE(log.Open(std::filesystem::path(path).wstring()) == 0 &&
                        EnsureTable(log) == 0);
            g_fault = {kind, nth, error, sticky};
            std::set<long long> acknowledged;
            for (long long seq = 1; seq <= 13; ++seq) {
                // The 13th insert comes after the disk is healed: the connection writes again.
                if (seq == 13) g_fault = {};
                // A full disk may outlast the connection: the next opener finds the journal.
                if (seq == 13 && sticky && nth % 2 == 0) log.Close();
                ASSERT_EQ(log.IsOpened() ? 0 : log.Open(std::filesystem::path(path).wstring()), 0);
                // Batch 5 seq: an insert of one record.
                const int result = log.Insert(seq, RecordData(seq, 5 * static_cast<int>(seq)));
                ASSERT_TRUE(result == 0 || (result == 1 && seq < 13)) << result;
                if (result == 0) acknowledged.insert(seq);
                if (seq == 12 && nth == 0) calls = g_fault.calls;
                if (seq == 12) faults += g_fault.faults;
            }
            EXPECT_GE(acknowledged.size(), sticky ? 1u : 12u);
            EXPECT_EQ(log.IsBrokenLogFile(), 0) << "an I/O error is no corruption";
            log.Close();
            size_t present = 0;
            EXPECT_EQ(Damage(path, acknowledged, present), "");
        }
        EXPECT_GT(faults, calls > 0 ? 0 : -1) << trial;
    }
}

}  // namespace
}  // namespace Ovra::hardening
