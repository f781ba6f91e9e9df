#pragma once

// The system calls under the Linux device and volume answers of the POSIX backend, as one table
// of replaceable entries: tests swap an entry to feed recorded command blocks, sense data and
// pages, or to fail one call, and ScopedSyscall puts the real one back.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

namespace Ovra {
namespace platform {
namespace posix {

struct SyscallTable {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*readlink)(const char* path, char* buffer, size_t size);
    int (*statvfs)(const char* path, struct statvfs* info);
    int (*stat)(const char* path, struct stat* info);
    int (*mount)(const char* source, const char* target, const char* type, unsigned long flags,
                 const void* data);
    int (*umount2)(const char* target, int flags);
};

// The live table of this module (each module that links the backend has its own); never null.
SyscallTable& Syscalls();
// The real calls.
const SyscallTable& RealSyscalls();

// Replaces one entry for the lifetime of the object.
template <typename Fn>
class ScopedSyscall {
public:
    ScopedSyscall(Fn SyscallTable::*entry, Fn replacement)
        : m_entry(entry), m_saved(Syscalls().*entry) {
        Syscalls().*entry = replacement;
    }
    ~ScopedSyscall() { Syscalls().*m_entry = m_saved; }
    ScopedSyscall(const ScopedSyscall&) = delete;
    ScopedSyscall& operator=(const ScopedSyscall&) = delete;

private:
    Fn SyscallTable::*m_entry;
    Fn m_saved;
};

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
