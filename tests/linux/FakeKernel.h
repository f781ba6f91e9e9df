#pragma once

// The kernel under the Linux disk code, faked through the system-call table: /sys is a scratch
// folder, every /dev node the one fake device, whose SG_IO requests `sg` answers.

#include "base/platform/linux/Syscalls.h"
#include "tests/support/ScratchDir.h"

#include <linux/fs.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

namespace Ovra {
namespace testing_linux {

using Bytes = std::vector<std::uint8_t>;

struct SgReply {
    int error = 0;  // errno of a refused request
    std::uint8_t status = 0;
    std::uint16_t host = 0;
    Bytes sense, data;
};

class FakeKernel {
public:
    FakeKernel() { s_current = this; }

    // Block device `name` whose sysfs device sits at /sys/devices/`devicePath`.
    void Disk(const std::string& name, const std::string& devicePath) {
        const auto below = std::filesystem::path("devices") / devicePath / "block" / name;
        std::filesystem::create_directories(m_sys.Folder() / below);
        std::filesystem::create_directories(m_sys.Path("block"));
        std::filesystem::create_directory_symlink(".." / below, m_sys.Path("block/" + name));
    }
    void File(const std::string& path, const std::string& text) {  // relative to /sys
        std::filesystem::create_directories(m_sys.Path(path).parent_path());
        std::ofstream(m_sys.Path(path)) << text;
    }

    std::function<SgReply(const Bytes& cdb)> sg;
    std::vector<Bytes> cdbs;
    std::uint64_t bytes = 0;
    std::string refused;  // a /dev node that opens with EPERM

private:
    static const int kDeviceFd = 9000;
    static const platform::posix::SyscallTable& Real() { return platform::posix::RealSyscalls(); }
    static std::string InSys(const char* path) {
        return s_current->m_sys.Folder().string() + (path + 4);
    }
    static int Open(const char* path, int flags) {
        if (path == s_current->refused) return errno = EPERM, -1;
        if (std::strncmp(path, "/dev/", 5) == 0) return kDeviceFd;
        return Real().open(InSys(path).c_str(), flags);  // /sys only
    }
    static int Close(int fd) { return fd == kDeviceFd ? 0 : Real().close(fd); }
    static ssize_t Readlink(const char* path, char* buffer, size_t size) {
        return Real().readlink(InSys(path).c_str(), buffer, size);
    }
    static int Ioctl(int, unsigned long request, void* argument) {
        FakeKernel& k = *s_current;
        if (request == BLKGETSIZE64) *static_cast<std::uint64_t*>(argument) = k.bytes;
        if (request == BLKSSZGET) *static_cast<int*>(argument) = 512;
        if (request != SG_IO) return 0;
        auto& io = *static_cast<sg_io_hdr_t*>(argument);
        k.cdbs.emplace_back(io.cmdp, io.cmdp + io.cmd_len);
        const SgReply reply = k.sg ? k.sg(k.cdbs.back()) : SgReply{ENOTTY, 0, 0, {}, {}};
        if (reply.error) return errno = reply.error, -1;
        io.status = reply.status;
        io.host_status = reply.host;
        io.driver_status = reply.sense.empty() ? 0 : 0x08;
        io.sb_len_wr = static_cast<unsigned char>(reply.sense.size());  // both fit
        std::copy(reply.sense.begin(), reply.sense.end(), io.sbp);
        std::copy(reply.data.begin(), reply.data.end(), static_cast<std::uint8_t*>(io.dxferp));
        return 0;
    }

    template <typename Fn>
    using Scoped = platform::posix::ScopedSyscall<Fn>;
    using Table = platform::posix::SyscallTable;
    static inline FakeKernel* s_current = nullptr;
    testing_support::ScratchDir m_sys{"ovra-sysfs"};
    Scoped<decltype(Table::open)> m_open{&Table::open, &Open};
    Scoped<decltype(Table::close)> m_close{&Table::close, &Close};
    Scoped<decltype(Table::readlink)> m_readlink{&Table::readlink, &Readlink};
    Scoped<decltype(Table::ioctl)> m_ioctl{&Table::ioctl, &Ioctl};
};

}  // namespace testing_linux
}  // namespace Ovra
