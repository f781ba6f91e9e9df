#include "tests/hardening/FaultVfs.h"

#include <stdexcept>

namespace Ovra {
namespace hardening {

namespace {
FaultVfs* g_active = nullptr;
}

FaultVfs::FaultVfs() : m_real(sqlite3_vfs_find(nullptr)), m_vfs(*m_real) {
    if (g_active) throw std::logic_error("one fault VFS at a time");
    g_active = this;
    m_vfs.zName = "ovra-fault";
    m_vfs.xOpen = Open;
    m_vfs.xDelete = Delete;
    sqlite3_vfs_register(&m_vfs, 1);
}

FaultVfs::~FaultVfs() {
    sqlite3_vfs_register(m_real, 1);
    sqlite3_vfs_unregister(&m_vfs);
    g_active = nullptr;
}

void FaultVfs::Arm(IoKind kind, int nth, int error, bool sticky) {
    calls[0] = calls[1] = calls[2] = calls[3] = faults = 0;
    m_kind = kind;
    m_remaining = nth;
    m_error = error;
    m_sticky = sticky;
}

int FaultVfs::Hit(IoKind kind) {
    FaultVfs& vfs = *g_active;
    ++vfs.calls[kind];
    // Counts down to 1, the failing call; a sticky fault stays there, a passing one goes to 0.
    if (vfs.m_remaining == 0 || vfs.m_kind != kind || --vfs.m_remaining > 0) return SQLITE_OK;
    vfs.m_remaining = vfs.m_sticky ? 1 : 0;
    ++vfs.faults;
    return vfs.m_error;
}

int FaultVfs::Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out) {
    FaultVfs& vfs = *g_active;
    const int rc = vfs.m_real->xOpen(vfs.m_real, name, file, flags, out);
    if (file->pMethods && !vfs.m_realMethods) {
        vfs.m_realMethods = file->pMethods;
        vfs.m_methods = *file->pMethods;
        vfs.m_methods.xRead = Read;
        vfs.m_methods.xWrite = Write;
        vfs.m_methods.xSync = Sync;
    }
    // Files with methods of another kind would be left alone: the default VFS has one kind.
    if (file->pMethods == vfs.m_realMethods) file->pMethods = &vfs.m_methods;
    return rc;
}

int FaultVfs::Delete(sqlite3_vfs*, const char* name, int syncDir) {
    if (const int error = Hit(kDelete)) return error;
    return g_active->m_real->xDelete(g_active->m_real, name, syncDir);
}

int FaultVfs::Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = Hit(kRead)) return error;
    return g_active->m_realMethods->xRead(file, buffer, amount, offset);
}

int FaultVfs::Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = Hit(kWrite)) return error;
    return g_active->m_realMethods->xWrite(file, buffer, amount, offset);
}

int FaultVfs::Sync(sqlite3_file* file, int flags) {
    if (const int error = Hit(kSync)) return error;
    return g_active->m_realMethods->xSync(file, flags);
}

}  // namespace hardening
}  // namespace Ovra
