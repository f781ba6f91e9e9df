// ReadDiskHealth over simulated disks: the verdict rules, the failures, and the exact requests.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthPages.h"

#include <Ovra/DiskHealth.h>

#include <gtest/gtest.h>

#include <functional>

namespace Ovra {
namespace {

using namespace testing_health;

Bytes Corrupt(Bytes page) {
    page[200] ^= 0x10;
    return page;
}

TEST(DiskHealth, VerdictRules) {
    const Bytes good = AttributePage(QemuAttributes());
    const Bytes thresholds = QemuThresholds();
    struct Case {
        const char* name;
        std::function<SimDevice()> disk;  // null: no device
        int limit, code;
        DiskHealth::Verdict verdict;
        const wchar_t* reason;  // the one reason expected, if any
    } cases[] = {
        {"healthy", [=] { return AtaDisk(good); }, 60, 0, DiskHealth::Good, nullptr},
        {"reallocated sectors", [] { return AtaDisk(AttributePage(QemuAttributes(8))); }, 60, 0,
         DiskHealth::Warning, L"8 reallocated sectors"},
        {"pre-failure threshold crossed",
         [] { return AtaDisk(AttributePage(QemuAttributes(0, 30))); }, 60, 0, DiskHealth::Failing,
         L"Reallocated Sectors Count (5) is at or below its threshold: value 30, threshold 36"},
        {"self-assessment failing", [=] { return AtaDisk(good, thresholds, 0xF4, 0x2C); }, 60, 0,
         DiskHealth::Failing, L"the drive assesses itself as failing"},
        {"194 before 190",
         [] {
             std::vector<AtaEntry> attributes = QemuAttributes();
             attributes.push_back({194, 0x22, 100, 100, 61});
             return AtaDisk(AttributePage(attributes));
         },
         60, 0, DiskHealth::Warning, L"temperature 61 \u00B0C above the limit of 60 \u00B0C"},
        {"too hot for the limit", [=] { return AtaDisk(good); }, 30, 0, DiskHealth::Warning,
         L"temperature 31 \u00B0C above the limit of 30 \u00B0C"},
        {"bad attribute checksum", [=] { return AtaDisk(Corrupt(good)); }, 60, 139,
         DiskHealth::Unknown, L"the SMART attribute page failed its checksum"},
        {"bad threshold checksum", [=] { return AtaDisk(good, Corrupt(thresholds)); }, 60, 139,
         DiskHealth::Unknown, L"the SMART threshold page failed its checksum"},
        {"bad identify checksum",
         [=] {
             return AtaDisk(good, thresholds, 0x4F, 0xC2,
                            Corrupt(IdentifyPage("QEMU HARDDISK", "QM00001", true)));
         },
         60, 139, DiskHealth::Unknown, L"IDENTIFY DEVICE data failed its checksum"},
        {"identify without checksum signature",
         [=] {
             return AtaDisk(good, thresholds, 0x4F, 0xC2,
                            Corrupt(IdentifyPage("QEMU HARDDISK", "QM00001", false)));
         },
         60, 0, DiskHealth::Good, nullptr},
        {"nvme healthy", [] { return NvmeDisk(NvmeLog(0, 100)); }, 60, 0, DiskHealth::Good,
         nullptr},
        {"nvme through the adapter property", [] { return NvmeDisk(NvmeLog(0, 100), 49); }, 60, 0,
         DiskHealth::Good, nullptr},
        {"nvme spare low", [] { return NvmeDisk(NvmeLog(0, 5)); }, 60, 0, DiskHealth::Warning,
         L"available spare 5% below its threshold of 10%"},
        {"nvme worn", [] { return NvmeDisk(NvmeLog(0, 100, 90)); }, 60, 0, DiskHealth::Warning,
         L"90% of rated endurance used"},
        {"nvme critical warning", [] { return NvmeDisk(NvmeLog(0x04, 100)); }, 60, 0,
         DiskHealth::Failing, L"critical warning: reliability degraded"},
        {"neither SMART nor NVMe", [] { return fakes::Disk(); }, 60, 127, DiskHealth::Unknown,
         L"disk 0 answers neither SMART commands nor NVMe health queries"},
        {"no disk", nullptr, 60, 121, DiskHealth::Unknown, L"disk 0 cannot be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (c.disk) fake.AddDevice(fakes::PhysicalDrivePath(0), c.disk());
        DiskHealth health;
        EXPECT_EQ(ReadDiskHealth(0, health, c.limit), c.code);
        EXPECT_EQ(health.verdict, c.verdict);
        EXPECT_EQ(health.reasons,
                  c.reason ? std::vector<std::wstring>{c.reason} : std::vector<std::wstring>{});
        EXPECT_EQ(fake.OpenHandleCount(), 0);
    }
}

TEST(DiskHealth, ReadingsOfTheQemuDisksAbsentApartFromZero) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.AddDevice(fakes::PhysicalDrivePath(0), AtaDisk(AttributePage(QemuAttributes())));
    fake.AddDevice(fakes::PhysicalDrivePath(1), NvmeDisk(NvmeLog(0, 100)));
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(0, ata), 0);
    ASSERT_EQ(ReadDiskHealth(1, nvme), 0);
    EXPECT_EQ(ata.kind, DiskHealth::Ata);
    EXPECT_EQ(ata.model + L"|" + ata.serial + L"|" + ata.firmware, L"QEMU HARDDISK|QM00001|2.5+");
    EXPECT_EQ(ata.selfAssessment, DiskHealth::Passed);
    EXPECT_EQ(ata.attributes.size(), 7u);
    EXPECT_EQ(ata.powerOnHours, 52);
    EXPECT_EQ(ata.reallocatedSectors, 0);  // on the page, zero
    EXPECT_EQ(ata.pendingSectors, kHealthAbsent);
    EXPECT_EQ(nvme.model + L"|" + nvme.serial, L"QEMU NVMe Ctrl|deadbeef");
    EXPECT_EQ(nvme.temperature, 50);
}

TEST(DiskHealth, ExactRequests) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.AddDevice(fakes::PhysicalDrivePath(259), AtaDisk(AttributePage(QemuAttributes())));
    fake.AddDevice(fakes::PhysicalDrivePath(0), NvmeDisk(NvmeLog(0, 100)));
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(259, ata), 0);
    ASSERT_EQ(ReadDiskHealth(0, nvme), 0);

    // Descriptor, version, IDENTIFY, RETURN STATUS, data, thresholds; NVMe: descriptor,
    // Identify Controller, health log. Each as code, input size, output size.
    const std::vector<fakes::Call> calls = fake.CallsNamed("DeviceIoControl");
    const std::vector<std::vector<std::uint64_t>> expected = {
        {0x2D1400, 12, 1024}, {0x74080, 0, 24},       {0x7C088, 33, 528},
        {0x7C084, 33, 24},    {0x7C088, 33, 528},     {0x7C088, 33, 528},
        {0x2D1400, 12, 1024}, {0x2D1400, 4144, 4144}, {0x2D1400, 560, 560}};
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].args, expected[i]) << i;
    // Buffer size, features, count, number, LBA low/mid/high, device, command; drive 259 & 0xFF.
    Bytes identify = {0, 2, 0, 0, 0x00, 1, 1, 0x00, 0x00, 0xA0, 0xEC, 0, 3};
    Bytes status = {0, 0, 0, 0, 0xDA, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3};
    identify.resize(33, 0);
    status.resize(33, 0);
    EXPECT_EQ(calls[2].input, identify);
    EXPECT_EQ(calls[3].input, status);
    // Property 50, standard query; NVMe, log page, page 02h, sub-value 0, data offset 40, 512.
    Bytes log(48 + 512, 0);
    const std::uint32_t words[] = {50, 0, 3, 2, 2, 0, 40, 512};
    for (std::size_t i = 0; i < 8; ++i) Put(log, 4 * i, words[i], 4);
    EXPECT_EQ(calls[8].input, log);
}

}  // namespace
}  // namespace Ovra
