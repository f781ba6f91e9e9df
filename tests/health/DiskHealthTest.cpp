// ReadDiskHealth over simulated disks: the verdict rules, the readings, the exact requests, and
// the readings of cycles kept in a health log.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthPages.h"
#include "tests/support/ScratchDir.h"

#include "tools/ovractl/HealthLog.h"

#include <Ovra/DiskHealth.h>

#include <gtest/gtest.h>

#include <optional>

namespace Ovra {
namespace {

using namespace testing_health;

TEST(DiskHealth, VerdictRules) {
    Bytes corrupt = AttributePage(QemuAttributes());
    corrupt[200] ^= 0x10;
    std::vector<AtaEntry> hot = QemuAttributes(), uncorrectable = hot, pending = hot,
                          timeouts = hot;
    hot.push_back({194, 0x22, 100, 100, 61});  // read before 190
    uncorrectable.push_back({187, 0x32, 100, 100, 2});
    pending.push_back({197, 0x12, 100, 100, 3});
    timeouts.push_back({188, 0x32, 100, 100, 4});
    using H = DiskHealth;
    const struct {
        std::optional<SimDevice> disk;
        int code;
        H::Verdict verdict;
        const wchar_t* reason;  // the one reason expected, if any
    } cases[] = {
        {AtaDisk(), 0, H::Good, nullptr},
        {AtaDisk(AttributePage(QemuAttributes(8))), 0, H::Warning, L"8 reallocated sectors"},
        {AtaDisk(AttributePage(uncorrectable)), 0, H::Warning, L"2 reported uncorrectable errors"},
        {AtaDisk(AttributePage(pending)), 0, H::Warning, L"3 pending sectors"},
        {AtaDisk(AttributePage(timeouts)), 0, H::Warning, L"4 command timeouts"},
        {AtaDisk(AttributePage(QemuAttributes(0, 30))), 0, H::Failing,
         L"Reallocated Sectors Count (5) is at or below its threshold: value 30, threshold 36"},
        {AtaDisk(AttributePage(QemuAttributes()), 0xF4, 0x2C), 0, H::Failing,
         L"the drive assesses itself as failing"},
        {AtaDisk(AttributePage(hot)), 0, H::Warning,
         L"temperature 61 \u00B0C above the limit of 60 \u00B0C"},
        {AtaDisk(corrupt), 139, H::Unknown, L"the SMART attribute page failed its checksum"},
        // NVMe, the first one through the adapter's property.
        {NvmeDisk(NvmeLog(0, 100), 49), 0, H::Good, nullptr},
        {NvmeDisk(NvmeLog(0, 5)), 0, H::Warning, L"available spare 5% below its threshold of 10%"},
        {NvmeDisk(NvmeLog(0, 100, 90)), 0, H::Warning, L"90% of rated endurance used"},
        {NvmeDisk(NvmeLog(0x04, 100)), 0, H::Failing, L"critical warning: reliability degraded"},
        {fakes::Disk(), 127, H::Unknown,
         L"disk 0 answers neither SMART commands nor NVMe health queries"},
        {std::nullopt, 121, H::Unknown, L"disk 0 cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (c.disk) fake.AddDevice(fakes::PhysicalDrivePath(0), *c.disk);
        DiskHealth health;
        EXPECT_EQ(ReadDiskHealth(0, health), c.code);
        EXPECT_EQ(health.verdict, c.verdict);
        EXPECT_EQ(health.reasons,
                  c.reason ? std::vector<std::wstring>{c.reason} : std::vector<std::wstring>{});
        EXPECT_EQ(fake.OpenHandleCount(), 0);
    }
}

TEST(DiskHealth, ReadingsAndExactRequestsOfTheQemuDisks) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    fake.AddDevice(fakes::PhysicalDrivePath(259), AtaDisk());
    Bytes log = NvmeLog(0, 100);
    Put(log, 32, 0x1122334455667788ULL, 8);  // data units read: within 64 bits
    Put(log, 48 + 8, 1, 1);                  // data units written: beyond, saturated
    Put(log, 160, 3, 8);                     // media errors
    fake.AddDevice(fakes::PhysicalDrivePath(0), NvmeDisk(log));
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(259, ata), 0);
    ASSERT_EQ(ReadDiskHealth(0, nvme), 0);
    EXPECT_EQ(ata.model + L"|" + ata.serial + L"|" + ata.firmware, L"QEMU HARDDISK|QM00001|2.5+");
    // Pending sectors are not on the page, unlike a zero.
    EXPECT_EQ(
        std::vector<long long>({ata.kind, ata.selfAssessment, ata.temperature, ata.powerOnHours,
                                ata.reallocatedSectors, ata.pendingSectors}),
        std::vector<long long>({DiskHealth::Ata, DiskHealth::Passed, 31, 52, 0, kHealthAbsent}));
    const DiskHealthAttribute& hours = ata.attributes.at(4);  // six raw bytes, not the seventh
    EXPECT_EQ(std::vector<long long>({hours.id, hours.value, hours.raw, hours.flags}),
              std::vector<long long>({9, 100, 0x123400000034, 0x32}));
    EXPECT_EQ(nvme.model + L"|" + nvme.serial + L"|" + std::to_wstring(nvme.temperature),
              L"QEMU NVMe Ctrl|deadbeef|50");
    EXPECT_EQ(std::vector<unsigned long long>(
                  {nvme.nvme.dataUnitsRead, nvme.nvme.dataUnitsWritten, nvme.nvme.mediaErrors}),
              std::vector<unsigned long long>({0x1122334455667788ULL, ~0ULL, 3}));

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

TEST(HealthLog, ThreeCyclesReadBackAsHistory) {
    testing_support::ScratchDir scratch("health-log");
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    ovractl::HealthLog log;
    ASSERT_EQ(log.Open(scratch.WidePath("health.db")), 0);
    SimDevice& disk = fake.AddDevice(platform::PhysicalDrivePath(0), AtaDisk());
    // A cycle's snapshot only names the disks: each is read anew, four more sectors reallocated
    // every minute.
    for (int i = 0; i < 3; ++i) {
        disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0xD0, 0xB0),
                    WithReplyHead(AttributePage(QemuAttributes(4 * i))));
        EXPECT_EQ(log.RecordCycle(60000 * i, {{0, {}}}), 0);
    }

    std::vector<ovractl::HealthSample> reallocated, disk0;
    ASSERT_EQ(log.History(0, 5, reallocated), 0);
    ASSERT_EQ(log.History(0, 0, disk0), 0);
    ASSERT_EQ(reallocated.size(), 3u);
    ASSERT_EQ(disk0.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const ovractl::HealthSample& r = reallocated[i];
        EXPECT_EQ(std::vector<long long>({r.time, r.value, r.worst, r.raw, disk0[i].temperature}),
                  std::vector<long long>({60000 * i, 100, 100, 4 * i, 31}));
        EXPECT_EQ(disk0[i].verdict, i ? L"Warning" : L"Good");
    }
}

}  // namespace
}  // namespace Ovra
