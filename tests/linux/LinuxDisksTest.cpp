// Disks on Linux behind a faked kernel (sysfs, SG_IO): numbering and descriptors; SMART and
// RETURN STATUS as the kernel is asked them, with sense data mapped to the library's codes. The
// NVMe queries meet a real controller in the guest test.
#include "tests/health/HealthPages.h"
#include "tests/support/ScratchDir.h"

#include "base/platform/DeviceHandle.h"
#include "base/platform/PosixPlatform.h"
#include "base/platform/WinIoctl.h"
#include "base/platform/linux/Syscalls.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/HddSmartInfo.h>
#include <Ovra/StoragePhysicalDrive.h>

#include <gtest/gtest.h>
#include <linux/fs.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

namespace Ovra {
namespace {

using namespace testing_health;
using namespace platform;

// The kernel under the Linux disk code, faked through the system-call table of this test's own
// backend: /sys is a scratch folder, every /dev node the one fake device, whose SG_IO requests
// `sg` answers.

struct SgReply {
    int error = 0, status = 0, host = 0;  // error: errno of a refused request
    Bytes sense, data;
};

class FakeKernel {
public:
    FakeKernel() { s_current = this; }

    // Block device `name` whose sysfs device sits at /sys/devices/`devicePath`, with its
    // attribute files (paths below /sys/block/`name`) and their lines.
    void Disk(const std::string& name, const std::string& devicePath,
              const std::map<std::string, std::string>& files = {}) {
        const auto below = std::filesystem::path("devices") / devicePath / "block" / name;
        std::filesystem::create_directories(m_sys.Folder() / below);
        std::filesystem::create_directories(m_sys.Path("block"));
        std::filesystem::create_directory_symlink(".." / below, m_sys.Path("block/" + name));
        for (const auto& file : files) {
            std::filesystem::create_directories(
                m_sys.Path("block/" + name + "/" + file.first).parent_path());
            std::ofstream(m_sys.Path("block/" + name + "/" + file.first)) << file.second << "\n";
        }
    }

    std::function<SgReply(const Bytes& cdb)> sg;
    std::vector<Bytes> cdbs;
    std::vector<nvme_admin_cmd> admin;  // the NVMe admin commands, answered with success
    int adminError = 0;                 // or refused with this errno
    std::uint64_t bytes = 0;
    std::string refused;           // a /dev node that opens with EPERM
    std::size_t readChunk = 4096;  // the most one read of a /sys file returns

private:
    static const int kDeviceFd = 9000;
    static const posix::SyscallTable& Real() { return posix::RealSyscalls(); }
    static std::string InSys(const char* path) {
        return s_current->m_sys.Folder().string() + (path + 4);
    }
    static int Open(const char* path, int flags) {
        if (path == s_current->refused) return errno = EPERM, -1;
        if (std::strncmp(path, "/dev/", 5) == 0) return kDeviceFd;
        return Real().open(InSys(path).c_str(), flags);  // /sys only
    }
    static int Close(int fd) { return fd == kDeviceFd ? 0 : Real().close(fd); }
    static ssize_t Read(int fd, void* buffer, size_t size) {
        return Real().read(fd, buffer, std::min(size, s_current->readChunk));
    }
    static ssize_t Readlink(const char* path, char* buffer, size_t size) {
        return Real().readlink(InSys(path).c_str(), buffer, size);
    }
    static int Ioctl(int, unsigned long request, void* argument) {
        FakeKernel& k = *s_current;
        if (request == BLKGETSIZE64) *static_cast<std::uint64_t*>(argument) = k.bytes;
        if (request == BLKSSZGET) *static_cast<int*>(argument) = 512;
        if (request == NVME_IOCTL_ADMIN_CMD && k.adminError) return errno = k.adminError, -1;
        if (request == NVME_IOCTL_ADMIN_CMD)
            k.admin.push_back(*static_cast<nvme_admin_cmd*>(argument));
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
    using Scoped = posix::ScopedSyscall<Fn>;
    using Table = posix::SyscallTable;
    static inline FakeKernel* s_current = nullptr;
    testing_support::ScratchDir m_sys{"ovra-sysfs"};
    ScopedPlatform m_backend{posix::PosixBackend()};
    Scoped<decltype(Table::open)> m_open{&Table::open, &Open};
    Scoped<decltype(Table::close)> m_close{&Table::close, &Close};
    Scoped<decltype(Table::read)> m_read{&Table::read, &Read};
    Scoped<decltype(Table::readlink)> m_readlink{&Table::readlink, &Readlink};
    Scoped<decltype(Table::ioctl)> m_ioctl{&Table::ioctl, &Ioctl};
};

// Sense data with ATA registers (error 04h): descriptor format with the ATA Status Return
// descriptor, or fixed format.
Bytes Descriptor(std::uint8_t key, std::uint8_t status, std::uint8_t mid = 0x4F,
                 std::uint8_t high = 0xC2) {
    return {0x72, key, 0, 0x1D, 0, 0, 0,   14, 0x09, 12,   0,
            4,    0,   1, 0,    1, 0, mid, 0,  high, 0xA0, status};
}
Bytes Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t status,
            std::uint8_t mid = 0x4F, std::uint8_t high = 0xC2) {
    return {0x70, 0, key, 4, status, 0xA0, 1, 10, 0, 1, mid, high, asc, ascq, 0, 0, 0, 0};
}
const auto Data = [](const Bytes& data) { return SgReply{0, 0, 0, {}, data}; };
const auto Check = [](const Bytes& sense, const Bytes& data = {}) {
    return SgReply{0, 2, 0, sense, data};
};

// An AHCI SATA disk answering the ATA commands by SMART feature, or ECh for IDENTIFY.
class LinuxAta : public ::testing::Test {
protected:
    LinuxAta() {
        kernel.Disk("sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
        kernel.sg = [this](const Bytes& cdb) {
            if (cdb.size() != 16) return SgReply();  // INQUIRY: nothing to say
            return answers[cdb[14] == 0xEC ? 0xEC : cdb[4]];
        };
    }
    FakeKernel kernel;
    std::map<std::uint8_t, SgReply> answers = {
        {0xEC, Data(IdentifyPage("OVRA SATA DISK", "OVRA-SATA-0001", false))},
        {0xD0, Data(AttributePage(QemuAttributes()))},
        {0xD1, Data(QemuThresholds())}};
    HddSmartInfo info;
    std::map<unsigned char, HddSmartAttr> attrs;  // filled on success only
};

TEST_F(LinuxAta, RequestsAsAtaPassThroughRepliesInWindowsLayout) {
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    const std::vector<Bytes> cdbs = {
        {0x85, 0x08, 0x0E, 0, 0x00, 0, 1, 0, 0, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0},
        {0x85, 0x06, 0x00, 0, 0xD8, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
        {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
        {0x85, 0x08, 0x0E, 0, 0xD1, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}};
    EXPECT_EQ(kernel.cdbs, cdbs);
    // The reply as Windows lays it out: cBufferSize, DRIVERSTATUS, the page; nothing past it.
    DeviceHandle disk(L"\\\\.\\PhysicalDrive0", 0xC0000000);
    const std::uint8_t command[32] = {0, 2, 0, 0, kReadThresholds, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
    Bytes reply(530, 0xEE), layout = WithReplyHead(QemuThresholds());
    layout.resize(530, 0xEE);
    std::uint32_t returned = 0;
    EXPECT_TRUE(disk.Control(kSmartRcvDriveData, command, 32, reply.data(), 530, &returned));
    EXPECT_EQ(returned, 528u);
    EXPECT_EQ(reply, layout);

    // RETURN STATUS: the failing signature in the sense data's registers, in either format,
    // reaches the verdict.
    DiskHealth health;
    for (const Bytes& s : {Descriptor(1, 0x50, 0xF4, 0x2C), Fixed(1, 0, 0x1D, 0x50, 0xF4, 0x2C)}) {
        answers[0xDA] = Check(s);
        ASSERT_EQ(ReadDiskHealth(0, health), 0);
        EXPECT_EQ(health.selfAssessment, DiskHealth::Failed);
    }
    // Non-data, CK_COND so that the registers come back.
    const Bytes status = {0x85, 0x06, 0x20, 0, 0xDA, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_NE(std::find(kernel.cdbs.begin(), kernel.cdbs.end(), status), kernel.cdbs.end());
}

TEST_F(LinuxAta, DeviceAnswersBecomeTheLibrarysCodes) {
    Bytes noSmart = answers[0xEC].data;
    noSmart[164] = 0;  // word 82 bit 0
    // A whole ATA Status Return descriptor, but the sense's additional length or the length the
    // kernel returned ends one byte before its last register.
    Bytes shortLength = Descriptor(1, 0x50), cut = Descriptor(1, 0x50);
    shortLength[7] = 13;
    cut.pop_back();
    // What is asked, the command (SMART feature, or ECh) whose reply is replaced, the reply and
    // the reading's result.
    const std::tuple<const char*, std::uint8_t, SgReply, int> cases[] = {
        {"no SG_IO (virtio, loop, NVMe)", 0xEC, {ENOTTY, 0, 0, {}, {}}, 127},
        {"no SMART feature set", 0xEC, Data(noSmart), 127},
        {"SCSI disk refuses the opcode", 0xEC, Check(Fixed(5, 0x20, 0, 0)), 127},
        {"registers in fixed sense, no error", 0xD8, Check(Fixed(1, 0, 0x1D, 0x50)), 0},
        {"ENABLE aborted, registers in fixed sense", 0xD8, Check(Fixed(0x0B, 0, 0x1D, 0x51)), 127},
        {"ENABLE refused, sense without registers", 0xD8, Check(Fixed(5, 0x20, 0, 0)), 127},
        {"registers in descriptor sense, no error", 0xD1,
         Check(Descriptor(1, 0x50), QemuThresholds()), 0},
        {"threshold page aborted", 0xD1, Check(Descriptor(0x0B, 0x51)), 105},
        {"descriptor past the additional length", 0xD1, Check(shortLength, QemuThresholds()), 105},
        {"descriptor past the sense returned", 0xD1, Check(cut, QemuThresholds()), 105},
        {"threshold page lost by the host", 0xD1, {0, 0, 0x07, {}, QemuThresholds()}, 105},
    };
    const auto normal = answers;
    for (const auto& [name, at, reply, result] : cases) {
        answers = normal;
        answers[at] = reply;
        attrs.clear();
        EXPECT_EQ(info.GetNowSmartAttr(0, attrs), result) << name;
        EXPECT_EQ(attrs.empty(), result != 0) << name;
    }
}

const unsigned long long kCylinder = 255ull * 63 * 512;

TEST(LinuxDisks, NumberedInNameOrderAndDescribedFromSysfsAndInquiry) {
    FakeKernel kernel;
    kernel.bytes = 100 * kCylinder + 4096;
    kernel.readChunk = 5;               // attributes come in several reads
    kernel.sg = [](const Bytes& cdb) {  // the unit serial number page, else refused
        if (cdb[0] == 0x12 && cdb[2] == 0x80) return Data({0, 0x80, 0, 2, 'S', 'N'});
        return Check(Fixed(5, 0x20, 0, 0));
    };
    const std::string scsi = "pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0";
    kernel.Disk("sdb", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0",
                {{"device/vendor", "ATA     "}, {"device/model", "DISK sdb"}});
    kernel.Disk("sdaa", scsi, {{"device/vendor", "ATA     "}, {"device/model", "DISK sdaa"}});
    kernel.Disk("sda", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0",
                {{"device/vendor", "Generic "}, {"device/model", "DISK sda"}, {"removable", "1"}});
    kernel.refused = "/dev/vda";  // described from sysfs alone
    kernel.Disk("vda", "pci0000:00/0000:00:05.0/virtio2",
                {{"serial", "VIRT-1"},
                 {"size", std::to_string(100 * kCylinder / 512 + 8)},
                 {"queue/logical_block_size", "512"}});
    kernel.Disk("nvme0n1", "pci0000:00/0000:00:04.0/nvme/nvme0",
                {{"device/model", "QEMU NVMe Ctrl  "}, {"device/serial", "NVME-1  "}});
    kernel.Disk("loop10", "virtual", {{"loop/backing_file", "/tmp/10.img"}});
    kernel.Disk("loop2", "virtual", {{"loop/backing_file", "/tmp/2.img"}});
    for (const char* name : {"loop1", "zram0", "ram0"}) kernel.Disk(name, "virtual");
    kernel.Disk("sr0", scsi);

    // Type, vendor, product, serial number and bus.
    const std::tuple<int, std::wstring, std::wstring, std::wstring, std::int32_t> expected[] = {
        {2, L"Generic ", L"DISK sda", L"SN", kBusTypeUsb},
        {3, L"ATA     ", L"DISK sdb", L"SN", kBusTypeSata},
        {3, L"ATA     ", L"DISK sdaa", L"SN", kBusTypeScsi},
        {3, L"", L"vda", L"VIRT-1", kBusTypeVirtual},
        {3, L"", L"QEMU NVMe Ctrl  ", L"NVME-1  ", kBusTypeNvme},
        {3, L"", L"loop2", L"/tmp/2.img", kBusTypeFileBackedVirtual},
        {3, L"", L"loop10", L"/tmp/10.img", kBusTypeFileBackedVirtual}};
    StoragePhysicalDrive drives(1);
    ASSERT_EQ(drives.GetDriveCount(), std::size(expected));
    for (int n = 0; n < static_cast<int>(std::size(expected)); ++n) {
        PhysicalDrive d;
        ASSERT_EQ(drives.GetDrive(n, d), 0);
        DeviceHandle device(PhysicalDrivePath(n), 0);
        StorageDeviceDescriptor descriptor{};
        const StoragePropertyQuery query{};
        device.Control(kIoctlStorageQueryProperty, &query, sizeof query, &descriptor,
                       sizeof descriptor);
        EXPECT_EQ(std::tie(d.type, d.vendorId, d.productId, d.serialNumber, descriptor.busType),
                  expected[n]);
        EXPECT_EQ(d.size, 100 * kCylinder);
    }
}

// The one admin command the protocol-command request may carry: Device Self-test, as given.
TEST(LinuxDisks, OnlyDeviceSelfTestReachesTheNvmeController) {
    FakeKernel kernel;
    kernel.Disk("nvme0n1", "pci0000:00/0000:00:04.0/nvme/nvme0");
    Bytes request = NvmeSelfTestRequest(), reply(144);
    DeviceHandle disk(PhysicalDrivePath(0), 0xC0000000);
    for (std::uint8_t opcode : {0x14, 0x80}) {  // Device Self-test, then Format NVM
        request[80] = opcode;
        EXPECT_EQ(
            disk.Control(kIoctlStorageProtocolCommand, request.data(), 144, reply.data(), 144),
            opcode == 0x14);
    }
    ASSERT_EQ(kernel.admin.size(), 1u);
    const nvme_admin_cmd& sent = kernel.admin[0];
    EXPECT_EQ(std::make_tuple(reply[16], sent.opcode, sent.nsid, sent.cdw10, sent.timeout_ms,
                              sent.data_len),
              std::make_tuple(1, 0x14, 0xFFFFFFFFu, 2u, 10000u, 0u));
    // A request one byte short, then the kernel's refusals as the library's codes.
    request[80] = 0x14;
    EXPECT_FALSE(
        disk.Control(kIoctlStorageProtocolCommand, request.data(), 143, reply.data(), 144));
    EXPECT_EQ(Sys().GetLastError(), kErrorInvalidParameter);
    for (const auto& [error, code] :
         {std::pair(ENOTTY, kErrorNotSupported), std::pair(EACCES, kErrorAccessDenied),
          std::pair(EPERM, kErrorAccessDenied), std::pair(EIO, kErrorIoDevice)}) {
        kernel.adminError = error;
        EXPECT_FALSE(
            disk.Control(kIoctlStorageProtocolCommand, request.data(), 144, reply.data(), 144));
        EXPECT_EQ(Sys().GetLastError(), code) << error;
    }
}

// A disk number too long to be one is no disk path (2^64 would wrap to disk 0); the descriptor
// needs room for its Version and Size.
TEST(LinuxDisks, NumbersAndBuffersAtTheirLimits) {
    FakeKernel kernel;
    kernel.Disk("sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
    kernel.sg = [](const Bytes& cdb) {  // no model in sysfs: the standard INQUIRY data, exactly
        Bytes data(36, 0);
        std::memcpy(&data[8], "OVRA    DISK\0\0\0\0\0\0\0\0\0\0\0\0REV1", 28);
        return cdb == Bytes{0x12, 0, 0, 0, 36, 0} ? Data(data) : Check(Fixed(5, 0x20, 0, 0));
    };
    for (const wchar_t* digits : {L"10995116277760", L"18446744073709551616"}) {
        EXPECT_EQ(
            Sys().CreateFileW((L"\\\\.\\PhysicalDrive" + std::wstring(digits)).c_str(), 0, 0, 0, 0),
            InvalidHandle());
        EXPECT_EQ(Sys().GetLastError(), kErrorNotSupported) << tcs_to_utf8(digits);
    }
    DeviceHandle disk(PhysicalDrivePath(0), 0);
    const StoragePropertyQuery query{};
    std::uint32_t head[2] = {}, returned = 0;
    EXPECT_FALSE(disk.Control(kIoctlStorageQueryProperty, &query, sizeof query, head, 7));
    EXPECT_EQ(Sys().GetLastError(), kErrorInsufficientBuffer);
    ASSERT_TRUE(disk.Control(kIoctlStorageQueryProperty, &query, sizeof query, head, 8, &returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(head[1], sizeof(StorageDeviceDescriptor) + 19);  // "OVRA    ", "DISK", "REV1", NULs
}

}  // namespace
}  // namespace Ovra
