#include "FaultVfs.h"

#include <cstddef>
#include <stdexcept>

namespace Ovra {
namespace hardening {

namespace {

// Our part of an open file; the wrapped VFS's own file object follows it in the same block.
struct FaultFile {
    sqlite3_file base;
    FaultVfs* owner;
};

// SQLite's allocations are only 8-byte aligned; so is the file object behind ours.
const std::size_t kRealOffset = (sizeof(FaultFile) + 7) & ~static_cast<std::size_t>(7);

}  // namespace

const sqlite3_io_methods FaultVfs::s_methods = {3,
                                                Close,
                                                Read,
                                                Write,
                                                Truncate,
                                                Sync,
                                                FileSize,
                                                Lock,
                                                Unlock,
                                                CheckReservedLock,
                                                FileControl,
                                                SectorSize,
                                                DeviceCharacteristics,
                                                ShmMap,
                                                ShmLock,
                                                ShmBarrier,
                                                ShmUnmap,
                                                Fetch,
                                                Unfetch};

FaultVfs::FaultVfs() : m_real(sqlite3_vfs_find(nullptr)), m_vfs{} {
    if (!m_real) throw std::runtime_error("no default SQLite VFS");
    m_vfs.iVersion = m_real->iVersion < 2 ? m_real->iVersion : 2;
    m_vfs.szOsFile = static_cast<int>(kRealOffset) + m_real->szOsFile;
    m_vfs.mxPathname = m_real->mxPathname;
    m_vfs.zName = "ovra-fault";
    m_vfs.pAppData = this;
    m_vfs.xOpen = Open;
    m_vfs.xDelete = Delete;
    m_vfs.xAccess = Access;
    m_vfs.xFullPathname = FullPathname;
    m_vfs.xDlOpen = DlOpen;
    m_vfs.xDlError = DlError;
    m_vfs.xDlSym = DlSym;
    m_vfs.xDlClose = DlClose;
    m_vfs.xRandomness = Randomness;
    m_vfs.xSleep = Sleep;
    m_vfs.xCurrentTime = CurrentTime;
    m_vfs.xGetLastError = GetLastError;
    m_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(&m_vfs, 1) != SQLITE_OK)
        throw std::runtime_error("cannot register the fault VFS");
}

FaultVfs::~FaultVfs() {
    sqlite3_vfs_register(m_real, 1);
    sqlite3_vfs_unregister(&m_vfs);
}

void FaultVfs::Arm(IoKind kind, int nth, int error, bool sticky) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = true;
    m_kind = kind;
    m_remaining = nth;
    m_error = error;
    m_sticky = sticky;
    m_tripped = false;
}

void FaultVfs::Heal() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
    m_tripped = false;
}

int FaultVfs::Calls(IoKind kind) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls[static_cast<int>(kind)];
}

int FaultVfs::Faults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults;
}

void FaultVfs::ResetCounts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls[0] = m_calls[1] = m_calls[2] = m_calls[3] = 0;
    m_faults = 0;
}

sqlite3_file* FaultVfs::Real(sqlite3_file* file) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<unsigned char*>(file) + kRealOffset);
}

int FaultVfs::Hit(sqlite3_file* file, IoKind kind) {
    return reinterpret_cast<FaultFile*>(file)->owner->Hit(kind);
}

int FaultVfs::Hit(IoKind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls[static_cast<int>(kind)];
    if (!m_armed || m_kind != kind) return SQLITE_OK;
    if (m_tripped) {
        if (!m_sticky) return SQLITE_OK;
    } else if (--m_remaining > 0) {
        return SQLITE_OK;
    }
    m_tripped = true;
    ++m_faults;
    return m_error;
}

// ---------------------------------------------------------------------------- the VFS

int FaultVfs::Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                   int* outFlags) {
    FaultFile* ours = reinterpret_cast<FaultFile*>(file);
    ours->owner = &Of(vfs);
    sqlite3_file* real = Real(file);
    real->pMethods = nullptr;
    const int rc = Of(vfs).m_real->xOpen(Of(vfs).m_real, name, real, flags, outFlags);
    // SQLite closes whatever file has methods, also after a failed open.
    ours->base.pMethods = real->pMethods ? &s_methods : nullptr;
    return rc;
}

int FaultVfs::Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    if (const int error = Of(vfs).Hit(IoKind::Delete)) return error;
    return Of(vfs).m_real->xDelete(Of(vfs).m_real, name, syncDir);
}

int FaultVfs::Access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
    return Of(vfs).m_real->xAccess(Of(vfs).m_real, name, flags, result);
}

int FaultVfs::FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return Of(vfs).m_real->xFullPathname(Of(vfs).m_real, name, size, out);
}

void* FaultVfs::DlOpen(sqlite3_vfs* vfs, const char* name) {
    return Of(vfs).m_real->xDlOpen(Of(vfs).m_real, name);
}

void FaultVfs::DlError(sqlite3_vfs* vfs, int size, char* out) {
    Of(vfs).m_real->xDlError(Of(vfs).m_real, size, out);
}

void (*FaultVfs::DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
    return Of(vfs).m_real->xDlSym(Of(vfs).m_real, handle, symbol);
}

void FaultVfs::DlClose(sqlite3_vfs* vfs, void* handle) {
    Of(vfs).m_real->xDlClose(Of(vfs).m_real, handle);
}

int FaultVfs::Randomness(sqlite3_vfs* vfs, int size, char* out) {
    return Of(vfs).m_real->xRandomness(Of(vfs).m_real, size, out);
}

int FaultVfs::Sleep(sqlite3_vfs* vfs, int microseconds) {
    return Of(vfs).m_real->xSleep(Of(vfs).m_real, microseconds);
}

int FaultVfs::CurrentTime(sqlite3_vfs* vfs, double* now) {
    return Of(vfs).m_real->xCurrentTime(Of(vfs).m_real, now);
}

int FaultVfs::GetLastError(sqlite3_vfs* vfs, int size, char* out) {
    return Of(vfs).m_real->xGetLastError(Of(vfs).m_real, size, out);
}

int FaultVfs::CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
    return Of(vfs).m_real->xCurrentTimeInt64(Of(vfs).m_real, now);
}

// ---------------------------------------------------------------------------- the files

int FaultVfs::Close(sqlite3_file* file) {
    return Real(file)->pMethods->xClose(Real(file));
}

int FaultVfs::Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = Hit(file, IoKind::Read)) return error;
    return Real(file)->pMethods->xRead(Real(file), buffer, amount, offset);
}

int FaultVfs::Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = Hit(file, IoKind::Write)) return error;
    return Real(file)->pMethods->xWrite(Real(file), buffer, amount, offset);
}

int FaultVfs::Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return Real(file)->pMethods->xTruncate(Real(file), size);
}

int FaultVfs::Sync(sqlite3_file* file, int flags) {
    if (const int error = Hit(file, IoKind::Sync)) return error;
    return Real(file)->pMethods->xSync(Real(file), flags);
}

int FaultVfs::FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return Real(file)->pMethods->xFileSize(Real(file), size);
}

int FaultVfs::Lock(sqlite3_file* file, int level) {
    return Real(file)->pMethods->xLock(Real(file), level);
}

int FaultVfs::Unlock(sqlite3_file* file, int level) {
    return Real(file)->pMethods->xUnlock(Real(file), level);
}

int FaultVfs::CheckReservedLock(sqlite3_file* file, int* result) {
    return Real(file)->pMethods->xCheckReservedLock(Real(file), result);
}

int FaultVfs::FileControl(sqlite3_file* file, int op, void* arg) {
    return Real(file)->pMethods->xFileControl(Real(file), op, arg);
}

int FaultVfs::SectorSize(sqlite3_file* file) {
    return Real(file)->pMethods->xSectorSize(Real(file));
}

int FaultVfs::DeviceCharacteristics(sqlite3_file* file) {
    return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
}

// Shared memory and memory mapping only exist from method version 2 and 3 on; a file whose VFS
// lacks them reports an I/O error, as SQLite itself would.
int FaultVfs::ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion < 2 || !real->xShmMap) return SQLITE_IOERR;
    return real->xShmMap(Real(file), region, size, extend, out);
}

int FaultVfs::ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion < 2 || !real->xShmLock) return SQLITE_IOERR;
    return real->xShmLock(Real(file), offset, n, flags);
}

void FaultVfs::ShmBarrier(sqlite3_file* file) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion >= 2 && real->xShmBarrier) real->xShmBarrier(Real(file));
}

int FaultVfs::ShmUnmap(sqlite3_file* file, int deleteFlag) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion < 2 || !real->xShmUnmap) return SQLITE_OK;
    return real->xShmUnmap(Real(file), deleteFlag);
}

int FaultVfs::Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion < 3 || !real->xFetch) {
        *out = nullptr;
        return SQLITE_OK;
    }
    return real->xFetch(Real(file), offset, amount, out);
}

int FaultVfs::Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    const sqlite3_io_methods* real = Real(file)->pMethods;
    if (real->iVersion < 3 || !real->xUnfetch) return SQLITE_OK;
    return real->xUnfetch(Real(file), offset, page);
}

}  // namespace hardening
}  // namespace Ovra
