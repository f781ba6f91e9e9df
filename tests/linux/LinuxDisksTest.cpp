// Physical disks on Linux behind a faked kernel (sysfs, SG_IO): numbering, descriptor, geometry,
// and the SMART requests as ATA PASS-THROUGH (16) with sense data mapped to the library's codes;
// and a real loop device in the inventory.
#include "tests/linux/FakeKernel.h"

#include "base/platform/DeviceHandle.h"
#include "base/platform/WinIoctl.h"

#include <Ovra/HddSmartInfo.h>
#include <Ovra/StoragePhysicalDrive.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <tuple>

namespace Ovra {
namespace {

using testing_linux::Bytes;
using testing_linux::FakeKernel;
using testing_linux::SgReply;
using namespace platform;

// QEMU's SATA disk: id, flags, value, worst, threshold.
const std::uint8_t kQemuSata[][5] = {
    {1, 3, 100, 100, 6}, {3, 3, 100, 100, 0},  {4, 2, 100, 100, 20}, {5, 3, 100, 100, 36},
    {9, 3, 100, 100, 0}, {12, 3, 100, 100, 0}, {190, 3, 69, 69, 50}};

Bytes Page(bool thresholds) {
    Bytes page(512);
    for (std::size_t i = 0; i < std::size(kQemuSata); ++i) {
        const std::uint8_t* a = kQemuSata[i];
        std::uint8_t* entry = &page[2 + 12 * i];
        entry[0] = a[0];
        entry[1] = thresholds ? a[4] : a[1];
        if (!thresholds) std::copy(a + 2, a + 4, entry + 3);
    }
    return page;
}

Bytes Identify(bool smart) {
    Bytes id(512);
    id[164] = smart ? 1 : 0;  // word 82 bit 0
    id[167] = 0x40;           // word 83: words 82-84 valid
    return id;
}

// Sense data with ATA registers (error 0x04, `status`): descriptor format with the ATA Status
// Return descriptor, or fixed format.
Bytes Descriptor(std::uint8_t key, std::uint8_t status) {
    return {0x72, key, 0, 0x1D, 0, 0, 0,    14, 0x09, 12,   0,
            4,    0,   1, 0,    1, 0, 0x4F, 0,  0xC2, 0xA0, status};
}
Bytes Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t status) {
    return {0x70, 0, key, 4, status, 0xA0, 1, 10, 0, 1, 0x4F, 0xC2, asc, ascq, 0, 0, 0, 0};
}

class LinuxSmart : public ::testing::Test {
protected:
    LinuxSmart() {
        kernel.Disk("sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
        kernel.sg = [this](const Bytes& cdb) {
            const std::uint8_t key = cdb[14] == 0xEC ? 0xEC : cdb[4];
            if (faults.count(key)) return faults[key];
            if (key == 0xD8) return SgReply();
            return SgReply{0, 0, 0, {}, key == 0xEC ? Identify(true) : Page(key == 0xD1)};
        };
    }
    FakeKernel kernel;
    std::map<std::uint8_t, SgReply> faults;  // by SMART feature, or 0xEC for IDENTIFY
    HddSmartInfo info;
    std::map<unsigned char, HddSmartAttr> attrs;
};

TEST_F(LinuxSmart, SendsTheLibrarysRegistersAndReturnsThePages) {
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    const std::vector<Bytes> expected = {
        {0x85, 0x08, 0x0E, 0, 0x00, 0, 1, 0, 0, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0},
        {0x85, 0x06, 0x00, 0, 0xD8, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
        {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
        {0x85, 0x08, 0x0E, 0, 0xD1, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}};
    EXPECT_EQ(kernel.cdbs, expected);
    for (const std::uint8_t* a : {kQemuSata[0], kQemuSata[3], kQemuSata[5]}) {
        const HddSmartAttr r = attrs.at(a[0]);
        const std::vector<unsigned> got = {r.flags, r.value, r.worst, r.threshold};
        EXPECT_EQ(got, std::vector<unsigned>(a + 1, a + 5)) << +a[0];
    }

    // The reply as Windows lays it out: cBufferSize, DRIVERSTATUS, the page; nothing past it.
    DeviceHandle disk(L"\\\\.\\PhysicalDrive0", 0xC0000000);
    const std::uint8_t command[32] = {0, 2, 0, 0, kReadThresholds, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
    Bytes reply(530, 0xEE), layout(16), page = Page(true);
    layout[1] = 2;  // cBufferSize 512
    layout.insert(layout.end(), page.begin(), page.end());
    layout.resize(530, 0xEE);
    std::uint32_t returned = 0;
    EXPECT_TRUE(disk.Control(kSmartRcvDriveData, command, 32, reply.data(), 530, &returned));
    EXPECT_EQ(returned, 528u);
    EXPECT_EQ(reply, layout);
}

TEST_F(LinuxSmart, DeviceAnswersBecomeTheLibrarysCodes) {
    auto check = [](Bytes sense, Bytes data = {}) { return SgReply{0, 2, 0, sense, data}; };
    const struct {
        const char* name;
        std::uint8_t at;  // SMART feature, or 0xEC for IDENTIFY
        SgReply reply;
        int result;
    } cases[] = {
        {"no SG_IO (virtio, loop, NVMe)", 0xEC, {ENOTTY, 0, 0, {}, {}}, 127},
        {"no SMART feature set", 0xEC, {0, 0, 0, {}, Identify(false)}, 127},
        {"SCSI disk refuses the opcode", 0xEC, check(Fixed(5, 0x20, 0, 0)), 127},
        {"registers in fixed sense, no error", 0xD8, check(Fixed(1, 0, 0x1D, 0x50)), 0},
        {"ENABLE aborted, registers in fixed sense", 0xD8, check(Fixed(0x0B, 0, 0x1D, 0x51)), 127},
        {"registers in descriptor sense, no error", 0xD1, check(Descriptor(1, 0x50), Page(true)),
         0},
        {"threshold page aborted", 0xD1, check(Descriptor(0x0B, 0x51)), 105},
        {"threshold page lost by the host", 0xD1, {0, 0, 0x07, {}, Page(true)}, 105},
    };
    for (const auto& c : cases) {
        faults = {{c.at, c.reply}};
        attrs.clear();
        EXPECT_EQ(info.GetNowSmartAttr(0, attrs), c.result) << c.name;
        EXPECT_EQ(attrs.size(), c.result ? 0u : 22u) << c.name;
    }
}

const unsigned long long kCylinder = 255ull * 63 * 512;

std::int32_t BusType(int disk) {
    DeviceHandle device(PhysicalDrivePath(disk), 0);
    StorageDeviceDescriptor descriptor{};
    const StoragePropertyQuery query{};
    device.Control(kIoctlStorageQueryProperty, &query, sizeof query, &descriptor,
                   sizeof descriptor);
    return descriptor.busType;
}

TEST(LinuxDisks, NumberedInNameOrderAndDescribedFromSysfsAndInquiry) {
    FakeKernel kernel;
    kernel.bytes = 100 * kCylinder + 4096;
    kernel.sg = [](const Bytes& cdb) {  // the unit serial number page, else refused
        if (cdb[0] == 0x12 && cdb[2] == 0x80)
            return SgReply{0, 0, 0, {}, {0, 0x80, 0, 2, 'S', 'N'}};
        return SgReply{0, 2, 0, {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0}, {}};
    };
    const std::string scsi = "pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0";
    kernel.Disk("sdb", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0");
    kernel.Disk("sdaa", scsi);
    kernel.Disk("sda", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0");
    kernel.Disk("vda", "pci0000:00/0000:00:05.0/virtio2");
    kernel.Disk("nvme0n1", "pci0000:00/0000:00:04.0/nvme/nvme0");
    for (const char* name : {"loop10", "loop2", "loop1", "zram0", "ram0"})
        kernel.Disk(name, "virtual");
    kernel.Disk("sr0", scsi);
    for (const char* name : {"sda", "sdb", "sdaa"}) {
        const std::string device = std::string("block/") + name + "/device/";
        kernel.File(device + "vendor", name == std::string("sda") ? "Generic \n" : "ATA     \n");
        kernel.File(device + "model", "DISK " + std::string(name) + "\n");
    }
    kernel.File("block/sda/removable", "1\n");
    kernel.File("block/vda/serial", "VIRT-1\n");
    kernel.refused = "/dev/vda";  // described from sysfs alone
    kernel.File("block/vda/size", std::to_string(100 * kCylinder / 512 + 8) + "\n");
    kernel.File("block/vda/queue/logical_block_size", "512\n");
    kernel.File("block/nvme0n1/device/model", "QEMU NVMe Ctrl  \n");
    kernel.File("block/nvme0n1/device/serial", "NVME-1  \n");
    kernel.File("block/loop2/loop/backing_file", "/tmp/2.img\n");
    kernel.File("block/loop10/loop/backing_file", "/tmp/10.img\n");

    const struct {
        int type;
        const wchar_t *vendor, *product, *serial;
        std::int32_t bus;
    } expected[] = {{2, L"Generic ", L"DISK sda", L"SN", kBusTypeUsb},
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
        const auto& e = expected[n];
        EXPECT_EQ(std::make_tuple(d.type, d.size, d.vendorId, d.productId, d.serialNumber),
                  std::make_tuple(e.type, 100 * kCylinder, std::wstring(e.vendor),
                                  std::wstring(e.product), std::wstring(e.serial)));
        EXPECT_EQ(BusType(n), e.bus) << n;
    }
}

// A loop device over `image`, detached again however the test ends.
struct LoopDevice {
    explicit LoopDevice(const std::string& image) {
        if (FILE* out = ::popen(("losetup -f --show " + image).c_str(), "r")) {
            char line[64] = {};
            if (std::fgets(line, sizeof line, out)) device.assign(line, std::strcspn(line, "\n"));
            ::pclose(out);
        }
    }
    ~LoopDevice() {
        if (!device.empty()) std::system(("losetup -d " + device).c_str());
    }
    std::string device;
};

TEST(LinuxDisks, AttachedLoopDeviceIsInTheInventory) {
    if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0)
        GTEST_SKIP() << "loop devices need root and /dev/loop-control";
    testing_support::ScratchDir scratch("ovra-loop");
    const std::string image = scratch.Utf8Path("disk.img");
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 64ull << 20);
    LoopDevice loop(image);
    if (loop.device.rfind("/dev/loop", 0) != 0)
        GTEST_SKIP() << "losetup could not attach " << image;

    StoragePhysicalDrive drives(1);
    PhysicalDrive d;
    std::size_t n = 0;
    while (n < 32 && (drives.GetDrive(n, d) || d.serialNumber != scratch.WidePath("disk.img"))) ++n;
    ASSERT_LT(n, 32u) << image << " is in no record";
    EXPECT_EQ(d.type, 3);
    EXPECT_EQ(d.size, (64ull << 20) / kCylinder * kCylinder);
}

}  // namespace
}  // namespace Ovra
