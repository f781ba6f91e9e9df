// ReadDiskHealth over simulated disks: the verdict rules, the readings, and the exact requests.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthPages.h"

#include <Ovra/DiskHealth.h>

#include <gtest/gtest.h>

#include <optional>

namespace Ovra {
namespace {

using namespace testing_health;

Bytes Corrupt(Bytes page) {
    page[200] ^= 0x10;
    return page;
}

std::vector<AtaEntry> Plus(std::vector<AtaEntry> entries, const AtaEntry& more) {
    entries.push_back(more);
    return entries;
}

TEST(DiskHealth, VerdictRules) {
    const Bytes good = AttributePage(QemuAttributes());
    std::vector<AtaEntry> hot = QemuAttributes();
    hot.push_back({194, 0x22, 100, 100, 61});  // read before 190
    const struct {
        const char* name;
        std::optional<SimDevice> disk;
        int limit, code;
        DiskHealth::Verdict verdict;
        const wchar_t* reason;  // the one reason expected, if any
    } cases[] = {
        {"healthy", AtaDisk(good), 60, 0, DiskHealth::Good, nullptr},
        {"reallocated sectors", AtaDisk(AttributePage(QemuAttributes(8))), 60, 0,
         DiskHealth::Warning, L"8 reallocated sectors"},
        {"reported uncorrectable errors",
         AtaDisk(AttributePage(Plus(QemuAttributes(), {187, 0x32, 100, 100, 2}))), 60, 0,
         DiskHealth::Warning, L"2 reported uncorrectable errors"},
        {"pre-failure threshold crossed", AtaDisk(AttributePage(QemuAttributes(0, 30))), 60, 0,
         DiskHealth::Failing,
         L"Reallocated Sectors Count (5) is at or below its threshold: value 30, threshold 36"},
        {"self-assessment failing", AtaDisk(good, QemuThresholds(), 0xF4, 0x2C), 60, 0,
         DiskHealth::Failing, L"the drive assesses itself as failing"},
        {"too hot", AtaDisk(AttributePage(hot)), 60, 0, DiskHealth::Warning,
         L"temperature 61 \u00B0C above the limit of 60 \u00B0C"},
        {"bad attribute checksum", AtaDisk(Corrupt(good)), 60, 139, DiskHealth::Unknown,
         L"the SMART attribute page failed its checksum"},
        {"nvme through the adapter property", NvmeDisk(NvmeLog(0, 100), 49), 60, 0,
         DiskHealth::Good, nullptr},
        {"nvme spare low", NvmeDisk(NvmeLog(0, 5)), 60, 0, DiskHealth::Warning,
         L"available spare 5% below its threshold of 10%"},
        {"nvme worn", NvmeDisk(NvmeLog(0, 100, 90)), 60, 0, DiskHealth::Warning,
         L"90% of rated endurance used"},
        {"nvme critical warning", NvmeDisk(NvmeLog(0x04, 100)), 60, 0, DiskHealth::Failing,
         L"critical warning: reliability degraded"},
        {"neither SMART nor NVMe", fakes::Disk(), 60, 127, DiskHealth::Unknown,
         L"disk 0 answers neither SMART commands nor NVMe health queries"},
        {"no disk", std::nullopt, 60, 121, DiskHealth::Unknown, L"disk 0 cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (c.disk) fake.AddDevice(fakes::PhysicalDrivePath(0), *c.disk);
        DiskHealth health;
        EXPECT_EQ(ReadDiskHealth(0, health, c.limit), c.code);
        EXPECT_EQ(health.verdict, c.verdict);
        EXPECT_EQ(health.reasons,
                  c.reason ? std::vector<std::wstring>{c.reason} : std::vector<std::wstring>{});
        EXPECT_EQ(fake.OpenHandleCount(), 0);
    }
}

TEST(DiskHealth, ReadingsAndExactRequestsOfTheQemuDisks) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.AddDevice(fakes::PhysicalDrivePath(259), AtaDisk(AttributePage(QemuAttributes())));
    Bytes log = NvmeLog(0, 100);
    Put(log, 32, 0x1122334455667788ULL, 8);  // data units read: within 64 bits
    Put(log, 48 + 8, 1, 1);                  // data units written: beyond, saturated
    Put(log, 160, 3, 8);                     // media errors
    fake.AddDevice(fakes::PhysicalDrivePath(0), NvmeDisk(log));
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(259, ata), 0);
    ASSERT_EQ(ReadDiskHealth(0, nvme), 0);
    EXPECT_EQ(ata.model + L"|" + ata.serial + L"|" + ata.firmware, L"QEMU HARDDISK|QM00001|2.5+");
    EXPECT_EQ(std::vector<long long>({ata.kind, ata.selfAssessment, ata.temperature,
                                      ata.powerOnHours, ata.reallocatedSectors}),
              std::vector<long long>({DiskHealth::Ata, DiskHealth::Passed, 31, 52, 0}));
    EXPECT_EQ(ata.pendingSectors, kHealthAbsent);             // not on the page, unlike a zero
    const DiskHealthAttribute& hours = ata.attributes.at(4);  // six raw bytes, not the seventh
    EXPECT_EQ(std::vector<long long>({hours.id, hours.value, hours.raw, hours.flags}),
              std::vector<long long>({9, 100, 0x123400000034, 0x32}));
    EXPECT_EQ(nvme.model + L"|" + nvme.serial, L"QEMU NVMe Ctrl|deadbeef");
    EXPECT_EQ(std::vector<unsigned long long>(
                  {nvme.nvme.dataUnitsRead, nvme.nvme.dataUnitsWritten, nvme.nvme.mediaErrors}),
              std::vector<unsigned long long>({0x1122334455667788ULL, ~0ULL, 3}));
    EXPECT_EQ(nvme.temperature, 50);

    // Descriptor, version, IDENTIFY, RETURN STATUS, data, thresholds; NVMe: descriptor,
    // Identify Controller, health log.
    const std::vector<fakes::Call> calls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(calls.size(), 9u);
    // Buffer size, features, count, number, LBA low/mid/high, device, command; drive 259 & 0xFF.
    Bytes identify = {0, 2, 0, 0, 0x00, 1, 1, 0x00, 0x00, 0xA0, 0xEC, 0, 3};
    Bytes status = {0, 0, 0, 0, 0xDA, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3};
    identify.resize(33, 0);
    status.resize(33, 0);
    EXPECT_EQ(calls[2].input, identify);
    EXPECT_EQ(calls[3].input, status);
    // Property 50, standard query; NVMe, log page, page 02h, sub-value 0, data offset 40, 512.
    Bytes query(48 + 512, 0);
    const std::uint32_t words[] = {50, 0, 3, 2, 2, 0, 40, 512};
    for (std::size_t i = 0; i < 8; ++i) Put(query, 4 * i, words[i], 4);
    EXPECT_EQ(calls[8].input, query);
}

}  // namespace
}  // namespace Ovra
