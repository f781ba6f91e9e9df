// Physical disks on Linux: numbering, descriptor and geometry from sysfs and SCSI INQUIRY behind
// the system-call table, and a real loop device in the inventory.
#include "tests/linux/FakeKernel.h"

#include "base/platform/DeviceHandle.h"
#include "base/platform/WinIoctl.h"

#include <Ovra/StoragePhysicalDrive.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace Ovra {
namespace {

using testing_linux::FakeKernel;
using testing_linux::SgReply;

const unsigned long long kCylinder = 255ull * 63 * 512;

std::int32_t BusType(int disk) {
    platform::DeviceHandle device(platform::PhysicalDrivePath(disk), 0);
    platform::StorageDeviceDescriptor descriptor{};
    const platform::StoragePropertyQuery query{};
    device.Control(platform::kIoctlStorageQueryProperty, &query, sizeof query, &descriptor,
                   sizeof descriptor);
    return descriptor.busType;
}

TEST(LinuxDisks, NumberedInNameOrderAndDescribedFromSysfsAndInquiry) {
    FakeKernel kernel;
    kernel.bytes = 100 * kCylinder + 4096;
    kernel.sg = [](const testing_linux::Bytes& cdb) {
        SgReply reply;  // the unit serial number page; anything else is an illegal request
        if (cdb[0] == 0x12 && cdb[1] == 1 && cdb[2] == 0x80)
            reply.data = {0, 0x80, 0, 9, 'S', 'E', 'R', 'I', 'A', 'L', '-', '8', '0'};
        else
            reply = {0, 2, 0, {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0}, {}};
        return reply;
    };
    const std::string scsi = "pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0";
    kernel.Disk("sdb", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0");
    kernel.Disk("sdaa", scsi);
    kernel.Disk("sda", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
    kernel.Disk("vda", "pci0000:00/0000:00:05.0/virtio2");
    kernel.Disk("nvme0n1", "pci0000:00/0000:00:04.0/nvme/nvme0");
    for (const char* name : {"loop0", "loop1", "zram0", "ram0"}) kernel.Disk(name, "virtual");
    kernel.Disk("sr0", scsi);
    for (const char* name : {"sda", "sdb", "sdaa"}) {
        const std::string device = std::string("block/") + name + "/device/";
        kernel.File(device + "vendor", name == std::string("sda") ? "Generic \n" : "ATA     \n");
        kernel.File(device + "model", "DISK " + std::string(name) + "\n");
        kernel.File(device + "rev", "2.5+\n");
    }
    kernel.File("block/sda/removable", "1\n");
    kernel.File("block/vda/serial", "VIRT-1\n");
    kernel.File("block/nvme0n1/device/model", "QEMU NVMe Ctrl  \n");
    kernel.File("block/nvme0n1/device/serial", "NVME-1  \n");
    kernel.File("block/loop0/loop/backing_file", "/tmp/disk.img\n");

    const struct {
        int type;
        const wchar_t *vendor, *product, *serial;
        std::int32_t bus;
    } expected[] = {{2, L"Generic ", L"DISK sda", L"SERIAL-80", platform::kBusTypeUsb},
                    {3, L"ATA     ", L"DISK sdb", L"SERIAL-80", platform::kBusTypeSata},
                    {3, L"ATA     ", L"DISK sdaa", L"SERIAL-80", platform::kBusTypeScsi},
                    {3, L"", L"vda", L"VIRT-1", platform::kBusTypeVirtual},
                    {3, L"", L"QEMU NVMe Ctrl  ", L"NVME-1  ", platform::kBusTypeNvme},
                    {3, L"", L"loop0", L"/tmp/disk.img", platform::kBusTypeFileBackedVirtual}};
    StoragePhysicalDrive drives(1);
    ASSERT_EQ(drives.GetDriveCount(), std::size(expected));
    for (int n = 0; n < static_cast<int>(std::size(expected)); ++n) {
        PhysicalDrive d;
        ASSERT_EQ(drives.GetDrive(n, d), 0);
        const auto& e = expected[n];
        EXPECT_EQ(std::make_tuple(d.type, d.size, d.vendorId, d.productId, d.serialNumber),
                  std::make_tuple(e.type, 100 * kCylinder, std::wstring(e.vendor),
                                  std::wstring(e.product), std::wstring(e.serial)));
        EXPECT_EQ(BusType(n), e.bus) << n;
    }
}

// A loop device over a sparse image, detached again however the test ends.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& image) {
        FILE* out = ::popen(("losetup -f --show " + image + " 2>/dev/null").c_str(), "r");
        char line[64] = {};
        if (out && std::fgets(line, sizeof line, out)) m_device.assign(line, strcspn(line, "\n"));
        if (out) ::pclose(out);
    }
    ~LoopDevice() {
        if (!m_device.empty()) std::system(("losetup -d " + m_device).c_str());
    }
    bool Attached() const { return m_device.rfind("/dev/loop", 0) == 0; }

private:
    std::string m_device;
};

TEST(LinuxDisks, AttachedLoopDeviceIsInTheInventory) {
    if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0)
        GTEST_SKIP() << "loop devices need root and /dev/loop-control";
    testing_support::ScratchDir scratch("ovra-loop");
    const std::string image = scratch.Utf8Path("disk.img");
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 64ull << 20);
    LoopDevice loop(image);
    if (!loop.Attached()) GTEST_SKIP() << "losetup could not attach " << image;

    StoragePhysicalDrive drives(1);
    bool found = false;
    for (std::size_t n = 0; n < 32; ++n) {
        PhysicalDrive d;
        if (drives.GetDrive(n, d) != 0 || d.serialNumber != std::filesystem::path(image).wstring())
            continue;
        found = true;
        EXPECT_EQ(d.type, 3);
        EXPECT_EQ(d.size, (64ull << 20) / kCylinder * kCylinder);
    }
    EXPECT_TRUE(found) << image << " is in no record";
}

}  // namespace
}  // namespace Ovra
