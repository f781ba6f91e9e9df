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

// An SQLite VFS for tests: the default VFS, with the reads, writes and syncs of its files and its
// deletions of files (a rollback journal's deletion commits its transaction) counted, and the n-th
// of one kind failed with a chosen error. Everything else is the default VFS's own. One at a time,
// for one thread.
enum IoKind { kRead, kWrite, kSync, kDelete };

class FaultVfs {
public:
    // Becomes the default VFS until destroyed; connections opened in between use it.
    FaultVfs() : m_real(sqlite3_vfs_find(nullptr)), m_vfs(*m_real) {
        s_active = this;
        m_vfs.zName = "ovra-fault";
        m_vfs.xOpen = Open;
        m_vfs.xDelete = [](sqlite3_vfs*, const char* name, int syncDir) {
            const int error = Hit(kDelete);
            return error ? error : s_active->m_real->xDelete(s_active->m_real, name, syncDir);
        };
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~FaultVfs() {
        sqlite3_vfs_register(m_real, 1);
        sqlite3_vfs_unregister(&m_vfs);
    }

    // Counts anew; the `nth` call of `kind` from now (none for 0) fails with `error`, and with
    // `sticky` every later call of that kind too (a full disk stays full) until the next Arm.
    void Arm(IoKind kind, int nth, int error, bool sticky) {
        calls = faults = 0, m_kind = kind, m_remaining = nth, m_error = error, m_sticky = sticky;
    }
    int calls = 0, faults = 0;  // of the armed kind, and injected, since Arm

private:
    inline static FaultVfs* s_active = nullptr;
    // SQLITE_OK, or the error to inject into this call of `kind`; counts down to 1, the failing
    // call, where a sticky fault stays and a passing one goes on to 0.
    static int Hit(IoKind kind) {
        FaultVfs& vfs = *s_active;
        if (vfs.m_kind != kind) return SQLITE_OK;
        ++vfs.calls;
        if (vfs.m_remaining == 0 || --vfs.m_remaining > 0) return SQLITE_OK;
        vfs.m_remaining = vfs.m_sticky ? 1 : 0;
        ++vfs.faults;
        return vfs.m_error;
    }
    // The default VFS's file method `method`, unless Hit(kind) fails it.
    using M = sqlite3_io_methods;
    template <IoKind kind, auto method, typename... Args>
    static int Faulty(sqlite3_file* file, Args... args) {
        const int error = Hit(kind);
        return error ? error : (s_active->m_realMethods->*method)(file, args...);
    }
    static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out) {
        FaultVfs& vfs = *s_active;
        const int rc = vfs.m_real->xOpen(vfs.m_real, name, file, flags, out);
        if (file->pMethods && !vfs.m_realMethods) {
            vfs.m_realMethods = file->pMethods;
            vfs.m_methods = *file->pMethods;
            vfs.m_methods.xRead = Faulty<kRead, &M::xRead, void*, int, sqlite3_int64>;
            vfs.m_methods.xWrite = Faulty<kWrite, &M::xWrite, const void*, int, sqlite3_int64>;
            vfs.m_methods.xSync = Faulty<kSync, &M::xSync, int>;
        }
        // The default VFS has one kind of file; any other would be left alone.
        if (file->pMethods == vfs.m_realMethods) file->pMethods = &vfs.m_methods;
        return rc;
    }

    sqlite3_vfs* m_real;
    sqlite3_vfs m_vfs;
    const sqlite3_io_methods* m_realMethods = nullptr;  // of the default VFS's files
    sqlite3_io_methods m_methods{};                     // the same but for the three above
    IoKind m_kind = kRead;
    int m_remaining = 0, m_error = SQLITE_OK;  // calls of m_kind before the fault (0: not armed)
    bool m_sticky = false;
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
            vfs.Arm(kind, nth, error, sticky);
            std::set<long long> acknowledged;
            for (long long seq = 1; seq <= 13; ++seq) {
                // The 13th insert comes after the disk is healed: the connection writes again.
                if (seq == 13) vfs.Arm(kRead, 0, SQLITE_OK, false);
                // A full disk may outlast the connection: the next opener finds the journal.
                if (seq == 13 && sticky && nth % 2 == 0) log.Close();
                ASSERT_EQ(log.IsOpened() ? 0 : log.Open(std::filesystem::path(path).wstring()), 0);
                // Batch 5 seq: an insert of one record.
                const int result = log.Insert(seq, RecordData(seq, 5 * static_cast<int>(seq)));
                ASSERT_TRUE(result == 0 || (result == 1 && seq < 13)) << result;
                if (result == 0) acknowledged.insert(seq);
                if (seq == 12 && nth == 0) calls = vfs.calls;
                if (seq == 12) faults += vfs.faults;
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
