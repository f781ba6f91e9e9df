// ReadDiskHealth over simulated disks: the verdict rules, the readings, the exact requests, and
// the readings of cycles kept in a health log.
#include "tests/fakes/FakePlatform.h"
#include "tests/health/HealthPages.h"
#include "tests/support/ScratchDir.h"

#include "tools/ovractl/HealthLog.h"

#include <Ovra/DiskHealth.h>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

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
    Bytes badLog = AtaSelfTestLog({{1, 0x00, 9, 0}}, 1);
    badLog[30] ^= 1;
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
        // The newest test that ran to its end decides: aborted ones are passed over.
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{2, 0x70, 9, 12345}}, 1)), 0, H::Failing,
         L"the last extended self-test failed: read failure at LBA 12345"},
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{0x81, 0x50, 8, ~0u}, {1, 0x10, 9, 0}}, 2)), 0,
         H::Failing, L"the last short self-test failed: electrical failure"},
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{2, 0x70, 5, 7}, {1, 0x00, 9, 0}}, 2), 3), 0,
         H::Warning, L"the device logged 3 errors"},
        {WithAtaLogs(AtaDisk(), badLog), 139, H::Unknown,
         L"the SMART self-test log failed its checksum"},
        {NvmeTestingDisk(NvmeSelfTestLog(0, 0, {{0x25, 0x02, 5, 4096}})), 0, H::Failing,
         L"the last extended self-test failed: fatal at LBA 4096"},
        {NvmeTestingDisk(NvmeSelfTestLog(0, 0, {{0x10, 0x02, 5, 4096}}), {5, 0, 7}), 0, H::Warning,
         L"the device logged 2 errors"},
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
    // The newest ATA test in descriptor 3, after a wrap from 21, the oldest a selective test (left
    // out); one test 30% from its end.
    fake.AddDevice(
        fakes::PhysicalDrivePath(259),
        WithAtaLogs(
            AtaDisk(AttributePage(QemuAttributes(), 0xF3)),
            AtaSelfTestLog({{4, 0, 6, 0}, {1, 0, 7, 0}, {0x82, 0x21, 8, 0}, {3, 0, 9, 0}}, 3, 20)));
    Bytes log = NvmeLog(0, 100);
    Put(log, 32, 0x1122334455667788ULL, 8);  // data units read: within 64 bits
    Put(log, 48 + 8, 1, 1);                  // data units written: beyond, saturated
    Put(log, 160, 3, 8);                     // media errors
    // Every NVMe result code that names one; a vendor test (Eh) left out; 75% to go.
    SimDevice nvmeDisk = NvmeTestingDisk(NvmeSelfTestLog(
        1, 25,
        {{0x11}, {0x22}, {0x13}, {0x14}, {0x15}, {0x16}, {0x17}, {0xE0}, {0x18}, {0x19}, {0x10}}));
    AnswerNvme(nvmeDisk, 2, 2, log);
    fake.AddDevice(fakes::PhysicalDrivePath(0), nvmeDisk);
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(259, ata), 0);
    ASSERT_EQ(ReadDiskHealth(0, nvme), 0);
    EXPECT_EQ(ata.model + L"|" + ata.serial + L"|" + ata.firmware, L"QEMU HARDDISK|QM00001|2.5+");
    // Pending sectors are not on the page, unlike a zero.
    EXPECT_EQ(
        std::vector<long long>({ata.kind, ata.selfAssessment, ata.temperature, ata.powerOnHours,
                                ata.reallocatedSectors, ata.pendingSectors, ata.selfTestInProgress,
                                ata.errorLogCount, nvme.selfTestInProgress, nvme.errorLogCount}),
        std::vector<long long>(
            {DiskHealth::Ata, DiskHealth::Passed, 31, 52, 0, kHealthAbsent, 30, 0, 75, 0}));
    const DiskHealthAttribute& hours = ata.attributes.at(4);  // six raw bytes, not the seventh
    EXPECT_EQ(std::vector<long long>({hours.id, hours.value, hours.raw, hours.flags}),
              std::vector<long long>({9, 100, 0x123400000034, 0x32}));
    std::vector<long long> ataTests, nvmeResults;  // kind, result, hours, LBA; results
    for (const DiskSelfTest& t : ata.selfTests)
        ataTests.insert(ataTests.end(), {t.kind, t.result, t.powerOnHours, t.failingLba});
    for (const DiskSelfTest& t : nvme.selfTests) nvmeResults.push_back(t.result);
    const long long none = kHealthAbsent;
    EXPECT_EQ(ataTests, std::vector<long long>({3, 0, 9, none, 2, 2, 8, none, 1, 0, 7, none}));
    using T = DiskSelfTest;
    EXPECT_EQ(nvmeResults,
              std::vector<long long>({T::Aborted, T::Interrupted, T::Aborted, T::Aborted, T::Fatal,
                                      T::UnknownFailure, T::ReadFailure, T::Aborted, T::Aborted,
                                      T::Passed}));
    EXPECT_EQ(nvme.model + L"|" + nvme.serial + L"|" + std::to_wstring(nvme.temperature),
              L"QEMU NVMe Ctrl|deadbeef|50");
    EXPECT_EQ(std::vector<unsigned long long>(
                  {nvme.nvme.dataUnitsRead, nvme.nvme.dataUnitsWritten, nvme.nvme.mediaErrors}),
              std::vector<unsigned long long>({0x1122334455667788ULL, ~0ULL, 3}));

    // Descriptor, version, IDENTIFY, RETURN STATUS, data, thresholds, the two logs; NVMe:
    // descriptor, Identify Controller, health log, self-test log, error log.
    const std::vector<fakes::Call> calls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(calls.size(), 13u);
    // Buffer size, features, count, number, LBA low/mid/high, device, command; drive 259 & 0xFF.
    Bytes identify = {0, 2, 0, 0, 0x00, 1, 1, 0x00, 0x00, 0xA0, 0xEC, 0, 3};
    Bytes status = {0, 0, 0, 0, 0xDA, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3};
    Bytes readLog = {0, 2, 0, 0, 0xD5, 1, 6, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3};
    for (Bytes* block : {&identify, &status, &readLog}) block->resize(33, 0);
    EXPECT_EQ(calls[2].input, identify);
    EXPECT_EQ(calls[3].input, status);
    EXPECT_EQ(calls[6].input, readLog);
    // Property 50, standard query; NVMe, log page, page 02h, sub-value 0, data offset 40, 512;
    // the error log's four entries.
    for (const auto& [call, page, size] : {std::tuple(10, 2u, 512u), std::tuple(12, 1u, 256u)}) {
        Bytes query(48 + size, 0);
        const std::uint32_t words[] = {50, 0, 3, 2, page, 0, 40, size};
        for (std::size_t i = 0; i < 8; ++i) Put(query, 4 * i, words[i], 4);
        EXPECT_EQ(calls[call].input, query);
    }
}

TEST(DiskSelfTest, StartsWhatTheDiskCanRunAndNeverOverARunningTest) {
    // EXECUTE OFF-LINE IMMEDIATE, short test (LBA low 1) or abort (127), and the NVMe Device
    // Self-test of the extended test on every namespace, after its STORAGE_PROTOCOL_COMMAND.
    Bytes ataShort = {0, 0, 0, 0, 0xD4, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0}, ataAbort, nvme(144, 0);
    ataShort.resize(33, 0);
    ataAbort = ataShort;
    ataAbort[6] = 127;
    const std::uint32_t head[] = {1, 84, 3, 0x80000000, 0, 0, 64, 0, 0, 0, 10, 0, 0, 0, 1};
    for (std::size_t i = 0; i < 15; ++i) Put(nvme, 4 * i, head[i], 4);
    Put(nvme, 80, 0x14, 1);
    Put(nvme, 84, 0xFFFFFFFF, 4);
    Put(nvme, 120, 2, 4);
    using T = DiskSelfTest;
    const Bytes running = AttributePage(QemuAttributes(), 0xF3);
    const struct {
        std::optional<SimDevice> disk;
        int kind;  // -1: abort
        int code;
        const wchar_t* reason;
        Bytes sent = {};  // the command that starts or stops the test
    } cases[] = {
        {AtaDisk(), T::Short, 0, L"", ataShort},
        {AtaDisk(running), T::Extended, 140, L"a self-test is running (30% remaining)"},
        {AtaDisk(running), -1, 0, L"", ataAbort},
        {AtaDisk(), -1, 0, L""},  // nothing to stop
        {AtaDisk(), T::Conveyance, 127, L"disk 0 cannot run conveyance self-tests"},
        {AtaDisk(AttributePage(QemuAttributes(), 0, 0)), T::Short, 127,
         L"disk 0 cannot run self-tests"},
        {AtaDisk(), T::Offline, 127, L"no self-test of kind 0"},
        {NvmeTestingDisk(NvmeSelfTestLog(0, 0)), T::Extended, 0, L"", nvme},
        {NvmeTestingDisk(NvmeSelfTestLog(2, 40)), T::Short, 140,
         L"a self-test is running (60% remaining)"},
        {NvmeDisk(NvmeLog(0, 100)), T::Short, 127, L"disk 0 cannot run self-tests"},
        {std::nullopt, T::Short, 121, L"disk 0 cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (c.disk) fake.AddDevice(fakes::PhysicalDrivePath(0), *c.disk);
        std::wstring reason = L"stale";
        EXPECT_EQ(c.kind < 0 ? AbortDiskSelfTest(0, reason) : StartDiskSelfTest(0, c.kind, reason),
                  c.code);
        EXPECT_EQ(reason, c.reason);
        std::vector<Bytes> sent;
        for (const fakes::Call& call : fake.CallsNamed("DeviceIoControl")) {
            if (call.args[0] == fakes::kStorageProtocolCommand ||
                (call.args[0] == fakes::kSmartSendDriveCommand && call.args[2] == 17))
                sent.push_back(call.input);
        }
        EXPECT_EQ(sent, c.sent.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{c.sent});
    }
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
