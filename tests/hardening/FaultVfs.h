#pragma once

// An SQLite VFS for tests: the default VFS, with the reads, writes and syncs of its files and its
// deletions of files (a rollback journal's deletion commits its transaction) counted, and the n-th
// of one kind failed with a chosen error. Everything else is the default VFS's own. For one thread
// at a time.
//
// Native builds only: it reaches the SQLite of this process, which the library shares there. The
// Windows DLL carries its own SQLite copy, which no test can register a VFS with.

#include <sqlite3.h>

namespace Ovra {
namespace hardening {

enum IoKind { kRead, kWrite, kSync, kDelete };

class FaultVfs {
public:
    // Becomes the default VFS until destroyed; one at a time. Connections opened in between use it.
    FaultVfs();
    ~FaultVfs();
    FaultVfs(const FaultVfs&) = delete;
    FaultVfs& operator=(const FaultVfs&) = delete;

    // Counts anew; the `nth` call of `kind` from now (none for 0) fails with `error`, and with
    // `sticky` every later call of that kind too (a full disk stays full) until the next Arm.
    void Arm(IoKind kind, int nth, int error, bool sticky);
    int calls[4] = {};  // of each kind since Arm
    int faults = 0;     // injected since Arm

private:
    static int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* out);
    static int Delete(sqlite3_vfs* vfs, const char* name, int syncDir);
    static int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset);
    static int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset);
    static int Sync(sqlite3_file* file, int flags);
    // SQLITE_OK, or the error to inject into this call of `kind`.
    static int Hit(IoKind kind);

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
