// ReadDiskHealth through the POSIX backend behind a faked kernel: RETURN STATUS as ATA
// PASS-THROUGH with its registers read back, the NVMe queries as admin commands.
#include "tests/health/HealthPages.h"
#include "tests/linux/FakeKernel.h"

#include <Ovra/DiskHealth.h>

#include <linux/nvme_ioctl.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace testing_health;

TEST(LinuxHealth, ReturnStatusRegistersReachTheVerdict) {
    testing_linux::FakeKernel kernel;
    kernel.Disk("sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
    kernel.sg = [](const Bytes& cdb) {
        testing_linux::SgReply reply;
        if (cdb.size() != 16) return reply;  // INQUIRY: nothing to say
        Bytes identify = IdentifyPage("OVRA SATA DISK", "", false);
        identify[164] = 1;     // word 82 bit 0: SMART
        identify[167] = 0x40;  // word 83: word 82 valid
        if (cdb[14] == 0xEC) reply.data = identify;
        if (cdb[14] == 0xB0 && cdb[4] == 0xD0)
            reply.data = AttributePage({{190, 0x22, 69, 69, 31}});
        if (cdb[14] == 0xB0 && cdb[4] == 0xD1) reply.data = ThresholdPage({});
        if (cdb[14] != 0xB0 || cdb[4] != 0xDA) return reply;
        // CHECK CONDITION with the ATA Status Return descriptor: LBA mid/high F4h/2Ch.
        reply.status = 2;
        reply.sense = {0x72, 1, 0, 0x1D, 0, 0, 0, 14};
        const Bytes registers = {0x09, 12, 0, 0, 0, 1, 0, 1, 0, 0xF4, 0, 0x2C, 0xA0, 0x50};
        reply.sense.insert(reply.sense.end(), registers.begin(), registers.end());
        return reply;
    };
    DiskHealth health;
    ASSERT_EQ(ReadDiskHealth(0, health), 0);
    EXPECT_EQ(health.selfAssessment, DiskHealth::Failed);
    // Non-data, CK_COND so that the registers come back.
    const Bytes status = {0x85, 0x06, 0x20, 0, 0xDA, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_NE(std::find(kernel.cdbs.begin(), kernel.cdbs.end(), status), kernel.cdbs.end());
}

std::vector<nvme_admin_cmd> g_admin;
int (*g_kernelIoctl)(int, unsigned long, void*) = nullptr;

int NvmeIoctl(int fd, unsigned long request, void* argument) {
    if (request != NVME_IOCTL_ADMIN_CMD) return g_kernelIoctl(fd, request, argument);
    auto& command = *static_cast<nvme_admin_cmd*>(argument);
    g_admin.push_back(command);
    const Bytes data =
        command.opcode == 0x06 ? NvmeIdentify("OVRA-NVME-0001", "QEMU NVMe Ctrl") : NvmeLog(0, 100);
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), command.data_len),
                reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(command.addr)));
    return 0;
}

TEST(LinuxHealth, NvmeQueriesBecomeAdminCommands) {
    testing_linux::FakeKernel kernel;
    kernel.Disk("nvme0n1", "pci0000:00/0000:00:04.0/nvme/nvme0/nvme0n1");
    g_admin.clear();
    g_kernelIoctl = platform::posix::Syscalls().ioctl;
    platform::posix::ScopedSyscall<decltype(platform::posix::SyscallTable::ioctl)> nvme(
        &platform::posix::SyscallTable::ioctl, &NvmeIoctl);
    DiskHealth health;
    ASSERT_EQ(ReadDiskHealth(0, health), 0);
    EXPECT_EQ(health.temperature, 50);  // the log where the reply says

    ASSERT_EQ(g_admin.size(), 2u);
    // Identify Controller: CNS 1. Health log: all namespaces, 128 dwords (0-based) of page 02h.
    const std::vector<std::uint32_t> expected[] = {{0x06, 0, 1, 0, 4096},
                                                   {0x02, 0xFFFFFFFF, 0x007F0002, 0, 512}};
    for (std::size_t i = 0; i < 2; ++i) {
        const nvme_admin_cmd& c = g_admin[i];
        EXPECT_EQ(std::vector<std::uint32_t>({c.opcode, c.nsid, c.cdw10, c.cdw11, c.data_len}),
                  expected[i]);
    }
}

}  // namespace
}  // namespace Ovra
