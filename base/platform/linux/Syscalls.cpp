#include "base/platform/linux/Syscalls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
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

const SyscallTable kReal = {&RealOpen, &RealClose, &RealIoctl, &RealRead, &RealReadlink};
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
