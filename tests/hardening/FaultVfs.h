#pragma once

// An SQLite VFS for tests that sits in front of the default one, counts the reads, writes and
// syncs of every file and the deletions of files (a rollback journal's deletion commits its
// transaction), and fails the n-th of one kind with a chosen error.
//
// Native builds only: it reaches the SQLite of this process, which the library shares there. The
// Windows DLL carries its own SQLite copy, which no test can register a VFS with.

#include <sqlite3.h>

#include <mutex>

namespace Ovra {
namespace hardening {

enum class IoKind { Read, Write, Sync, Delete };

class FaultVfs {
public:
    // Becomes the default VFS; the one it replaces is restored by the destructor. Connections
    // opened in between use it.
    FaultVfs();
    ~FaultVfs();
    FaultVfs(const FaultVfs&) = delete;
    FaultVfs& operator=(const FaultVfs&) = delete;

    // The `nth` call of `kind` from now fails with `error`; with `sticky` every later call of that
    // kind fails too (a full disk stays full) until Heal.
    void Arm(IoKind kind, int nth, int error, bool sticky);
    void Heal();
    // Calls of `kind` and injected failures since the last ResetCounts.
    int Calls(IoKind kind) const;
    int Faults() const;
    void ResetCounts();

private:
    static const sqlite3_io_methods s_methods;

    static FaultVfs& Of(sqlite3_vfs* vfs) { return *static_cast<FaultVfs*>(vfs->pAppData); }
    static sqlite3_file* Real(sqlite3_file* file);
    // SQLITE_OK, or the error to inject into this call.
    static int Hit(sqlite3_file* file, IoKind kind);
    int Hit(IoKind kind);

    static int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                    int* outFlags);
    static int Delete(sqlite3_vfs* vfs, const char* name, int syncDir);
    static int Access(sqlite3_vfs* vfs, const char* name, int flags, int* result);
    static int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out);
    static void* DlOpen(sqlite3_vfs* vfs, const char* name);
    static void DlError(sqlite3_vfs* vfs, int size, char* out);
    static void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void);
    static void DlClose(sqlite3_vfs* vfs, void* handle);
    static int Randomness(sqlite3_vfs* vfs, int size, char* out);
    static int Sleep(sqlite3_vfs* vfs, int microseconds);
    static int CurrentTime(sqlite3_vfs* vfs, double* now);
    static int GetLastError(sqlite3_vfs* vfs, int size, char* out);
    static int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now);

    static int Close(sqlite3_file* file);
    static int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset);
    static int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset);
    static int Truncate(sqlite3_file* file, sqlite3_int64 size);
    static int Sync(sqlite3_file* file, int flags);
    static int FileSize(sqlite3_file* file, sqlite3_int64* size);
    static int Lock(sqlite3_file* file, int level);
    static int Unlock(sqlite3_file* file, int level);
    static int CheckReservedLock(sqlite3_file* file, int* result);
    static int FileControl(sqlite3_file* file, int op, void* arg);
    static int SectorSize(sqlite3_file* file);
    static int DeviceCharacteristics(sqlite3_file* file);
    static int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out);
    static int ShmLock(sqlite3_file* file, int offset, int n, int flags);
    static void ShmBarrier(sqlite3_file* file);
    static int ShmUnmap(sqlite3_file* file, int deleteFlag);
    static int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out);
    static int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page);

    sqlite3_vfs* m_real;
    sqlite3_vfs m_vfs;

    mutable std::mutex m_mutex;
    int m_calls[4] = {0, 0, 0, 0};
    int m_faults = 0;
    bool m_armed = false;
    IoKind m_kind = IoKind::Write;
    int m_remaining = 0;
    int m_error = SQLITE_OK;
    bool m_sticky = false;
    bool m_tripped = false;
};

}  // namespace hardening
}  // namespace Ovra
