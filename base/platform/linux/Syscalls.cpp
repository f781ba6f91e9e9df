#include "base/platform/linux/Syscalls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Ovra {
namespace platform {
namespace posix {

namespace {
int RealOpen(const char* path, int flags) {
    return ::open(path, flags | O_CLOEXEC);
}
int RealClose(int fd) {
    return ::close(fd);
}
int RealIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
ssize_t RealRead(int fd, void* buffer, size_t size) {
    return ::read(fd, buffer, size);
}
ssize_t RealReadlink(const char* path, char* buffer, size_t size) {
    return ::readlink(path, buffer, size);
}
int RealStatvfs(const char* path, struct statvfs* info) {
    return ::statvfs(path, info);
}
int RealStat(const char* path, struct stat* info) {
    return ::stat(path, info);
}
int RealMount(const char* source, const char* target, const char* type, unsigned long flags,
              const void* data) {
    return ::mount(source, target, type, flags, data);
}
int RealUmount2(const char* target, int flags) {
    return ::umount2(target, flags);
}

const SyscallTable kReal = {&RealOpen,    &RealClose, &RealIoctl, &RealRead,   &RealReadlink,
                            &RealStatvfs, &RealStat,  &RealMount, &RealUmount2};
SyscallTable g_live = kReal;
}  // namespace

SyscallTable& Syscalls() {
    return g_live;
}

const SyscallTable& RealSyscalls() {
    return kReal;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
