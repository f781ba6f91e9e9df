// The Windows SMART requests answered on Linux: ATA PASS-THROUGH (16) command blocks, the pages
// in the Windows reply layout, and sense data mapped so that the library returns its codes.
#include "tests/linux/FakeKernel.h"

#include "base/platform/Platform.h"
#include "base/platform/WinIoctl.h"

#include <Ovra/HddSmartInfo.h>

#include <gtest/gtest.h>

#include <map>

namespace Ovra {
namespace {

using testing_linux::Bytes;
using testing_linux::FakeKernel;
using testing_linux::SgReply;

// The pages of QEMU's SATA disk: attributes (id, flags, value, worst) and thresholds.
const std::uint8_t kAttributes[][4] = {{1, 3, 100, 100}, {3, 3, 100, 100}, {4, 2, 100, 100},
                                       {5, 3, 100, 100}, {9, 3, 100, 100}, {12, 3, 100, 100},
                                       {190, 3, 69, 69}};
const std::uint8_t kThresholds[][2] = {{1, 6}, {3, 0},  {4, 20},  {5, 36},
                                       {9, 0}, {12, 0}, {190, 50}};

Bytes AttributePage() {
    Bytes page(512);
    for (std::size_t i = 0; i < std::size(kAttributes); ++i) {
        const auto* a = kAttributes[i];
        std::copy(a, a + 2, page.begin() + 2 + 12 * i);  // id, flags (low byte)
        page[2 + 12 * i + 3] = a[2];
        page[2 + 12 * i + 4] = a[3];
    }
    return page;
}

Bytes ThresholdPage() {
    Bytes page(512);
    for (std::size_t i = 0; i < std::size(kThresholds); ++i)
        std::copy(kThresholds[i], kThresholds[i] + 2, page.begin() + 2 + 12 * i);
    return page;
}

Bytes Identify(bool smart) {
    Bytes id(512);
    id[164] = smart ? 1 : 0;  // word 82 bit 0
    id[167] = 0x40;           // word 83: words 82-84 valid
    return id;
}

// Sense data with the ATA registers (error 0x04, status `status`): the ATA Status Return
// descriptor of descriptor-format sense, or fixed-format sense that says ATA PASS-THROUGH
// INFORMATION AVAILABLE (0x00/0x1D).
Bytes Descriptor(std::uint8_t key, std::uint8_t status) {
    Bytes sense = {0x72, key, 0, 0x1D, 0, 0, 0, 14};
    const Bytes descriptor = {0x09, 12, 0, 0x04, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, status};
    sense.insert(sense.end(), descriptor.begin(), descriptor.end());
    return sense;
}
Bytes Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t status) {
    Bytes sense = {0x70, 0, key, 0x04, status, 0xA0, 1, 10, 0, 1, 0x4F, 0xC2, asc, ascq};
    sense.resize(18);
    return sense;
}

const std::uint8_t kCheckCondition = 2;

class LinuxSmart : public ::testing::Test {
protected:
    LinuxSmart() {
        kernel.Disk("sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
        kernel.sg = [this](const Bytes& cdb) {
            const std::uint8_t key = cdb[14] == 0xEC ? 0xEC : cdb[4];
            if (faults.count(key)) return faults[key];
            SgReply reply;
            if (key == 0xEC) reply.data = Identify(true);
            if (key == 0xD0) reply.data = AttributePage();
            if (key == 0xD1) reply.data = ThresholdPage();
            return reply;
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
    for (std::size_t i = 0; i + 1 < std::size(kAttributes); ++i) {
        const HddSmartAttr a = attrs.at(kAttributes[i][0]);
        EXPECT_EQ(std::vector<unsigned>({a.flags, a.value, a.worst, a.threshold}),
                  std::vector<unsigned>({kAttributes[i][1], kAttributes[i][2], kAttributes[i][3],
                                         kThresholds[i][1]}));
    }

    // The reply as Windows lays it out: cBufferSize, DRIVERSTATUS, the page.
    using namespace platform;
    const Handle disk = Sys().CreateFileW(L"\\\\.\\PhysicalDrive0", 0xC0000000, 3, 3, 0);
    ASSERT_NE(disk, InvalidHandle());
    std::uint8_t command[32] = {0, 2, 0, 0, kReadThresholds, 1, 1, 0x4F, 0xC2, 0xA0, kSmartCmd};
    Bytes reply(16 + 512 + 7, 0xEE);
    std::uint32_t returned = 0;
    EXPECT_TRUE(Sys().DeviceIoControl(disk, kSmartRcvDriveData, command, sizeof command,
                                      reply.data(), 535, &returned));
    EXPECT_EQ(returned, 528u);
    Bytes expectedReply = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes page = ThresholdPage();
    expectedReply.insert(expectedReply.end(), page.begin(), page.end());
    expectedReply.resize(535, 0xEE);
    EXPECT_EQ(reply, expectedReply);
    EXPECT_TRUE(Sys().CloseHandle(disk));
}

struct FaultCase {
    const char* name;
    std::uint8_t at;  // SMART feature, or 0xEC for IDENTIFY
    SgReply reply;
    int result;
};

TEST_F(LinuxSmart, DeviceAnswersBecomeTheLibrarysCodes) {
    const FaultCase cases[] = {
        {"no SG_IO (virtio, loop, NVMe)", 0xEC, {ENOTTY, 0, 0, {}, {}}, 127},
        {"no SMART feature set", 0xEC, {0, 0, 0, {}, Identify(false)}, 127},
        {"SCSI disk refuses the opcode",
         0xEC,
         {0, kCheckCondition, 0, Fixed(5, 0x20, 0, 0), {}},
         127},
        {"registers in fixed sense, no error",
         0xD8,
         {0, kCheckCondition, 0, Fixed(1, 0, 0x1D, 0x50), {}},
         0},
        {"registers in descriptor sense, no error",
         0xD1,
         {0, kCheckCondition, 0, Descriptor(1, 0x50), ThresholdPage()},
         0},
        {"threshold page aborted", 0xD1, {0, kCheckCondition, 0, Descriptor(0x0B, 0x51), {}}, 105},
        {"threshold page lost by the host", 0xD1, {0, 0, 0x07, {}, ThresholdPage()}, 105},
    };
    for (const FaultCase& c : cases) {
        faults = {{c.at, c.reply}};
        attrs.clear();
        EXPECT_EQ(info.GetNowSmartAttr(0, attrs), c.result) << c.name;
        EXPECT_EQ(attrs.size(), c.result ? 0u : 22u) << c.name;
    }
}

}  // namespace
}  // namespace Ovra
