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
    const auto with = [](const AtaEntry& extra) {
        std::vector<AtaEntry> entries = QemuAttributes();
        entries.push_back(extra);
        return AtaDisk(AttributePage(entries));
    };
    Bytes badLog = AtaSelfTestLog({{1, 0x00, 9, 0}}, 1);
    badLog[30] ^= 1;
    using H = DiskHealth;
    // The disk, the code, the verdict and the one reason expected, if any.
    const std::tuple<std::optional<SimDevice>, int, H::Verdict, const wchar_t*> cases[] = {
        {AtaDisk(), 0, H::Good, nullptr},
        {AtaDisk(AttributePage(QemuAttributes(8))), 0, H::Warning, L"8 reallocated sectors"},
        {with({187, 0x32, 100, 100, 2}), 0, H::Warning, L"2 reported uncorrectable errors"},
        {with({197, 0x12, 100, 100, 3}), 0, H::Warning, L"3 pending sectors"},
        {with({188, 0x32, 100, 100, 4}), 0, H::Warning, L"4 command timeouts"},
        {AtaDisk(AttributePage(QemuAttributes(0, 30))), 0, H::Failing,
         L"Reallocated Sectors Count (5) is at or below its threshold: value 30, threshold 36"},
        {AtaDisk(AttributePage(QemuAttributes()), 0xF4, 0x2C), 0, H::Failing,
         L"the drive assesses itself as failing"},
        {with({194, 0x22, 100, 100, 61}), 0, H::Warning,  // read before 190
         L"temperature 61 \u00B0C above the limit of 60 \u00B0C"},
        {AtaDisk(corrupt), 139, H::Unknown, L"the SMART attribute page failed its checksum"},
        // The newest test that ran to its end decides: aborted ones are passed over.
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{2, 0x70, 9, 12345}}, 1)), 0, H::Failing,
         L"the last extended self-test failed: read failure at LBA 12345"},
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{0x81, 0x50, 8, ~0u}, {1, 0x10, 9, 0}}, 2)), 0,
         H::Failing, L"the last short self-test failed: electrical failure"},
        {WithAtaLogs(AtaDisk(), AtaSelfTestLog({{2, 0x70, 5, 7}, {1, 0x00, 9, 0}}, 2), 258), 0,
         H::Warning, L"the device logged 258 errors"},
        {WithAtaLogs(AtaDisk(), badLog), 139, H::Unknown,
         L"the SMART self-test log failed its checksum"},
        {NvmeTestingDisk(NvmeSelfTestLog(0, 0, {{0x25, 0x02, 5, 4096}})), 0, H::Failing,
         L"the last extended self-test failed: fatal at LBA 4096"},
        // NVMe, the first one through the adapter's property.
        {NvmeDisk(NvmeLog(0, 100), 49), 0, H::Good, nullptr},
        {NvmeDisk(NvmeLog(0, 5)), 0, H::Warning, L"available spare 5% below its threshold of 10%"},
        {NvmeDisk(NvmeLog(0, 100, 90)), 0, H::Warning, L"90% of rated endurance used"},
        {NvmeDisk(NvmeLog(0x04, 100)), 0, H::Failing, L"critical warning: reliability degraded"},
        {fakes::Disk(), 127, H::Unknown,
         L"disk 0 answers neither SMART commands nor NVMe health queries"},
        {std::nullopt, 121, H::Unknown, L"disk 0 cannot be opened"},
    };
    for (const auto& [disk, code, verdict, reason] : cases) {
        SCOPED_TRACE(reason);
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (disk) fake.AddDevice(fakes::PhysicalDrivePath(0), *disk);
        DiskHealth health;
        EXPECT_EQ(ReadDiskHealth(0, health), code);
        EXPECT_EQ(health.verdict, verdict);
        EXPECT_EQ(health.reasons,
                  reason ? std::vector<std::wstring>{reason} : std::vector<std::wstring>{});
        EXPECT_EQ(fake.OpenHandleCount(), 0);
    }
}

TEST(DiskHealth, ReadingsAndExactRequestsOfTheQemuDisks) {
    fakes::FakePlatform fake;
    platform::ScopedPlatform scoped(fake);
    // The newest ATA test in descriptor 3, after a wrap from 21, a fatal one failing at LBA 0, the
    // oldest a selective test (left out); one test 30% from its end.
    fake.AddDevice(
        fakes::PhysicalDrivePath(259),
        WithAtaLogs(AtaDisk(AttributePage(QemuAttributes(), 0xF3)),
                    AtaSelfTestLog(
                        {{4, 0, 6, 0}, {1, 0, 7, 0}, {0x82, 0x21, 8, 0}, {3, 0x30, 9, 0}}, 3, 20)));
    Bytes log = NvmeLog(0, 100);
    Put(log, 32, 0x1122334455667788ULL, 8);  // data units read: within 64 bits
    Put(log, 48 + 8, 1, 1);                  // data units written: beyond, saturated
    Put(log, 112, 7, 8);                     // power cycles
    Put(log, 144, 6, 8);                     // unsafe shutdowns
    Put(log, 160, 3, 8);                     // media errors
    // Every NVMe result code that names one; a vendor test (Eh) left out; 75% to go. Error log
    // entries count only when their error count is not 0.
    const Bytes tests = NvmeSelfTestLog(
        1, 25,
        {{0x11}, {0x22}, {0x13}, {0x14}, {0x15}, {0x16}, {0x17}, {0xE0}, {0x18}, {0x19}, {0x10}});
    fake.AddDevice(fakes::PhysicalDrivePath(0), NvmeTestingDisk(tests, {5, 0, 7, 9}, log));
    DiskHealth ata, nvme;
    ASSERT_EQ(ReadDiskHealth(259, ata), 0);
    ASSERT_EQ(ReadDiskHealth(0, nvme), 0);
    EXPECT_EQ(ata.model + L"|" + ata.serial + L"|" + ata.firmware + L"|" + nvme.model + L"|" +
                  nvme.serial,
              L"QEMU HARDDISK|QM00001|2.5+|QEMU NVMe Ctrl|deadbeef");
    // Pending sectors are not on the page, unlike a zero.
    EXPECT_EQ(
        std::vector<long long>({ata.kind, ata.selfAssessment, ata.temperature, ata.powerOnHours,
                                ata.reallocatedSectors, ata.pendingSectors, ata.selfTestInProgress,
                                ata.errorLogCount, nvme.selfTestInProgress, nvme.errorLogCount,
                                nvme.temperature}),
        std::vector<long long>(
            {DiskHealth::Ata, DiskHealth::Passed, 31, 52, 0, kHealthAbsent, 30, 0, 75, 3, 50}));
    const DiskHealthAttribute& hours = ata.attributes.at(4);  // six raw bytes, not the seventh
    EXPECT_EQ(std::vector<long long>({hours.id, hours.value, hours.raw, hours.flags}),
              std::vector<long long>({9, 100, 0x123400000034, 0x32}));
    std::vector<long long> ataTests, nvmeResults;  // kind, result, hours, LBA; results
    for (const DiskSelfTest& t : ata.selfTests)
        ataTests.insert(ataTests.end(), {t.kind, t.result, t.powerOnHours, t.failingLba});
    for (const DiskSelfTest& t : nvme.selfTests) nvmeResults.push_back(t.result);
    const long long none = kHealthAbsent;
    EXPECT_EQ(ataTests, std::vector<long long>({3, 3, 9, 0, 2, 2, 8, none, 1, 0, 7, none}));
    using T = DiskSelfTest;
    EXPECT_EQ(nvmeResults,
              std::vector<long long>({T::Aborted, T::Interrupted, T::Aborted, T::Aborted, T::Fatal,
                                      T::UnknownFailure, T::ReadFailure, T::Aborted, T::Aborted,
                                      T::Passed}));
    EXPECT_EQ(std::vector<unsigned long long>({nvme.nvme.dataUnitsRead, nvme.nvme.dataUnitsWritten,
                                               nvme.nvme.powerCycles, nvme.nvme.unsafeShutdowns,
                                               nvme.nvme.mediaErrors}),
              std::vector<unsigned long long>({0x1122334455667788ULL, ~0ULL, 7, 6, 3}));

    // Descriptor, version, IDENTIFY, RETURN STATUS, data, thresholds, the two logs; NVMe:
    // descriptor, Identify Controller, health log, self-test log, error log.
    const std::vector<fakes::Call> calls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(calls.size(), 13u);
    // IDENTIFY, RETURN STATUS, READ LOG 06h: buffer size, features, count, number, LBA low/mid/
    // high, device, command; drive 259 & 0xFF.
    std::pair<int, Bytes> blocks[] = {{2, {0, 2, 0, 0, 0x00, 1, 1, 0x00, 0x00, 0xA0, 0xEC, 0, 3}},
                                      {3, {0, 0, 0, 0, 0xDA, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3}},
                                      {6, {0, 2, 0, 0, 0xD5, 1, 6, 0x4F, 0xC2, 0xA0, 0xB0, 0, 3}}};
    for (auto& [call, block] : blocks) {
        block.resize(33, 0);
        EXPECT_EQ(calls[call].input, block);
    }
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
    // EXECUTE OFF-LINE IMMEDIATE, short test (LBA low 1) or abort (127).
    Bytes ataShort = {0, 0, 0, 0, 0xD4, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0}, ataAbort = ataShort;
    ataAbort[6] = 127;
    for (Bytes* block : {&ataShort, &ataAbort}) block->resize(33, 0);
    using T = DiskSelfTest;
    const Bytes running = AttributePage(QemuAttributes(), 0xF3);
    // The disk, the kind (-1: abort), the code, the command that starts or stops the test and
    // the reason.
    using Case = std::tuple<std::optional<SimDevice>, int, int, std::vector<Bytes>, const wchar_t*>;
    const std::vector<Bytes> none;
    const Case cases[] = {
        {AtaDisk(), T::Short, 0, {ataShort}, L""},
        {AtaDisk(running), T::Extended, 140, none, L"a self-test is running (30% remaining)"},
        {AtaDisk(running), -1, 0, {ataAbort}, L""},
        {AtaDisk(), -1, 0, none, L""},  // nothing to stop
        {AtaDisk(), T::Conveyance, 127, none, L"disk 0 cannot run conveyance self-tests"},
        {AtaDisk(AttributePage(QemuAttributes(), 0, 0)), T::Short, 127, none,
         L"disk 0 cannot run self-tests"},
        {AtaDisk(), T::Offline, 127, none, L"no self-test of kind 0"},
        {NvmeTestingDisk(NvmeSelfTestLog(0, 0)), T::Extended, 0, {NvmeSelfTestRequest()}, L""},
        {NvmeTestingDisk(NvmeSelfTestLog(2, 40)), T::Short, 140, none,
         L"a self-test is running (60% remaining)"},
        {NvmeDisk(NvmeLog(0, 100)), T::Short, 127, none, L"disk 0 cannot run self-tests"},
        {std::nullopt, T::Short, 121, none, L"disk 0 cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const auto& [disk, kind, code, commands, reason] = c;
        fakes::FakePlatform fake;
        platform::ScopedPlatform scoped(fake);
        if (disk) fake.AddDevice(fakes::PhysicalDrivePath(0), *disk);
        std::wstring said = L"stale";
        EXPECT_EQ(kind < 0 ? AbortDiskSelfTest(0, said) : StartDiskSelfTest(0, kind, said), code);
        EXPECT_EQ(said, reason);
        std::vector<Bytes> sent;
        for (const fakes::Call& call : fake.CallsNamed("DeviceIoControl"))
            if (call.args[0] == fakes::kStorageProtocolCommand ||
                (call.args[0] == fakes::kSmartSendDriveCommand && call.args[2] == 17))
                sent.push_back(call.input);
        EXPECT_EQ(sent, commands);
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
