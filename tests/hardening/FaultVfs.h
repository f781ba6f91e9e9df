#pragma once

// An SQLite VFS for tests: the default VFS, with the reads, writes and syncs of its files and its
// deletions of files (a rollback journal's deletion commits its transaction) counted, and the n-th
// of one kind failed with a chosen error. Everything else is the default VFS's own. One at a time,
// for one thread. Native builds only: the Windows DLL carries its own SQLite copy.

#include <sqlite3.h>

namespace Ovra {
namespace hardening {

enum IoKind { kRead, kWrite, kSync, kDelete };

class FaultVfs {
public:
    // Becomes the default VFS until destroyed; connections opened in between use it.
    FaultVfs() : m_real(sqlite3_vfs_find(nullptr)), m_vfs(*m_real) {
        Active() = this;
        m_vfs.zName = "ovra-fault";
        m_vfs.xOpen = Open;
        m_vfs.xDelete = [](sqlite3_vfs*, const char* name, int syncDir) {
            const int error = Hit(kDelete);
            return error ? error : Active()->m_real->xDelete(Active()->m_real, name, syncDir);
        };
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~FaultVfs() {
        sqlite3_vfs_register(m_real, 1);
        sqlite3_vfs_unregister(&m_vfs);
    }
    FaultVfs(const FaultVfs&) = delete;
    FaultVfs& operator=(const FaultVfs&) = delete;

    // Counts anew; the `nth` call of `kind` from now (none for 0) fails with `error`, and with
    // `sticky` every later call of that kind too (a full disk stays full) until the next Arm.
    void Arm(IoKind kind, int nth, int error, bool sticky) {
        calls[kRead] = calls[kWrite] = calls[kSync] = calls[kDelete] = faults = 0;
        m_kind = kind;
        m_remaining = nth;
        m_error = error;
        m_sticky = sticky;
    }
    int calls[4] = {};  // of each kind since Arm
    int faults = 0;     // injected since Arm

private:
    static FaultVfs*& Active() {
        static FaultVfs* active = nullptr;
        return active;
    }
    // SQLITE_OK, or the error to inject into this call of `kind`; counts down to 1, the failing
    // call, where a sticky fault stays and a passing one goes on to 0.
    static int Hit(IoKind kind) {
        FaultVfs& vfs = *Active();
        ++vfs.calls[kind];
        if (vfs.m_remaining == 0 || vfs.m_kind != kind || --vfs.m_remaining > 0) return SQLITE_OK;
        vfs.m_remaining = vfs.m_sticky ? 1 : 0;
        ++vfs.faults;
        return vfs.m_error;
    }
    static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out) {
        FaultVfs& vfs = *Active();
        const int rc = vfs.m_real->xOpen(vfs.m_real, name, file, flags, out);
        if (file->pMethods && !vfs.m_realMethods) {
            vfs.m_realMethods = file->pMethods;
            vfs.m_methods = *file->pMethods;
            vfs.m_methods.xRead = [](sqlite3_file* f, void* buffer, int amount, sqlite3_int64 at) {
                const int error = Hit(kRead);
                return error ? error : Active()->m_realMethods->xRead(f, buffer, amount, at);
            };
            vfs.m_methods.xWrite = [](sqlite3_file* f, const void* buffer, int amount,
                                      sqlite3_int64 at) {
                const int error = Hit(kWrite);
                return error ? error : Active()->m_realMethods->xWrite(f, buffer, amount, at);
            };
            vfs.m_methods.xSync = [](sqlite3_file* f, int flags) {
                const int error = Hit(kSync);
                return error ? error : Active()->m_realMethods->xSync(f, flags);
            };
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
    int m_remaining = 0;  // calls of m_kind before the fault; 0 while not armed
    int m_error = SQLITE_OK;
    bool m_sticky = false;
};

}  // namespace hardening
}  // namespace Ovra
