// Decoding of the ATA and NVMe health pages from bytes, without a device.
#include "tests/health/HealthPages.h"

#include "src/health/AtaPages.h"
#include "src/health/HealthVerdict.h"
#include "src/health/NvmePages.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace testing_health;

TEST(HealthPages, AttributeEntriesWithTheirThresholds) {
    std::vector<AtaEntry> entries(30, AtaEntry{0, 0, 0, 0, 0});
    entries[0] = {5, 0x0033, 100, 100, 0x0A0B0C0D0E0FLL};
    entries[1] = {9, 0x0032, 99, 98, 1234};
    entries[2] = {0, 0x0032, 1, 1, 7};  // empty entry between filled ones
    entries[3] = {1, 0x000F, 36, 36, 0};
    entries[4] = {3, 0x0027, 90, 20, 0};
    entries[29] = {200, 0, 0, 0, 0};  // the last of the 30: a zero attribute, not an absent one
    const Bytes thresholds = ThresholdPage({{9, 0}, {1, 36}, {3, 21}, {5, 10}});
    const std::vector<DiskHealthAttribute> got =
        health::ReadAtaAttributes(AttributePage(entries).data(), thresholds.data());

    struct Row {
        int id, value, worst, threshold;
        long long raw;
        int flags;
        bool preFailure, failingNow, failedInPast;
    };
    const Row expected[] = {
        {5, 100, 100, 10, 0x0A0B0C0D0E0FLL, 0x33, true, false, false},
        {9, 99, 98, 0, 1234, 0x32, false, false, false},
        {1, 36, 36, 36, 0, 0x0F, true, true, true},
        {3, 90, 20, 21, 0, 0x27, true, false, true},
        {200, 0, 0, 0, 0, 0, false, false, false},
    };
    ASSERT_EQ(got.size(), sizeof expected / sizeof expected[0]);
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Row& e = expected[i];
        const DiskHealthAttribute& a = got[i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(a.id, e.id);
        EXPECT_EQ(a.value, e.value);
        EXPECT_EQ(a.worst, e.worst);
        EXPECT_EQ(a.threshold, e.threshold);
        EXPECT_EQ(a.raw, e.raw);
        EXPECT_EQ(a.flags, e.flags);
        EXPECT_EQ(a.preFailure, e.preFailure);
        EXPECT_EQ(a.failingNow, e.failingNow);
        EXPECT_EQ(a.failedInPast, e.failedInPast);
    }
    EXPECT_EQ(got[0].name, L"Reallocated Sectors Count");
}

TEST(HealthPages, ChecksumsAndIdentifySignature) {
    Bytes data = AttributePage({{194, 0x22, 100, 100, 31}});
    Bytes identify = IdentifyPage("QEMU HARDDISK", "QM00001", "2.5+");
    Bytes unsigned_ = identify;
    unsigned_[510] = 0;  // no signature: the sum is not checked
    EXPECT_TRUE(health::PageChecksumOk(data.data()));
    EXPECT_TRUE(health::IdentifyChecksumOk(identify.data()));
    EXPECT_TRUE(health::IdentifyChecksumOk(unsigned_.data()));
    data[100] ^= 1;
    identify[100] ^= 1;
    EXPECT_FALSE(health::PageChecksumOk(data.data()));
    EXPECT_FALSE(health::IdentifyChecksumOk(identify.data()));
}

TEST(HealthPages, IdentityStringsAreSwappedAndTrimmed) {
    DiskHealth ata;
    health::ReadAtaIdentity(IdentifyPage("  QEMU HARDDISK", "QM00001", "2.5+").data(), ata);
    EXPECT_EQ(ata.model, L"QEMU HARDDISK");
    EXPECT_EQ(ata.serial, L"QM00001");
    EXPECT_EQ(ata.firmware, L"2.5+");
    DiskHealth nvme;
    health::ReadNvmeIdentity(NvmeIdentify("deadbeef", "QEMU NVMe Ctrl", "8.0.0").data(), nvme);
    EXPECT_EQ(nvme.serial, L"deadbeef");
    EXPECT_EQ(nvme.model, L"QEMU NVMe Ctrl");
    EXPECT_EQ(nvme.firmware, L"8.0.0");
}

TEST(HealthPages, NvmeLogFieldsAndWideCounters) {
    Bytes page = NvmeLog({0x05, 310, 7, 10, 91, 3});
    Put(page, 32, 0x1122334455667788ULL, 8);  // data units read: fits in 64 bits
    Put(page, 48 + 8, 1, 1);                  // data units written: beyond 64 bits
    Put(page, 112, 12, 8);
    Put(page, 128, 4000, 8);
    Put(page, 144, 2, 8);
    const NvmeHealthLog log = health::ReadNvmeHealthLog(page.data());
    EXPECT_EQ(log.criticalWarning, 5);
    EXPECT_EQ(log.temperatureKelvin, 310);
    EXPECT_EQ(log.availableSpare, 7);
    EXPECT_EQ(log.spareThreshold, 10);
    EXPECT_EQ(log.percentageUsed, 91);
    EXPECT_EQ(log.dataUnitsRead, 0x1122334455667788ULL);
    EXPECT_EQ(log.dataUnitsWritten, ~0ULL);
    EXPECT_EQ(log.powerCycles, 12u);
    EXPECT_EQ(log.powerOnHours, 4000u);
    EXPECT_EQ(log.unsafeShutdowns, 2u);
    EXPECT_EQ(log.mediaErrors, 3u);
}

TEST(HealthPages, TemperatureAndPowerOnHours) {
    struct Case {
        std::vector<AtaEntry> entries;
        bool hasTemperature;
        int temperature;
        long long hours;
    };
    const Case cases[] = {
        {{{190, 0x22, 69, 69, 0x2D00241F}}, true, 31, kHealthAbsent},  // low byte only
        {{{190, 0x22, 69, 69, 40}, {194, 0x22, 100, 100, 35}}, true, 35, kHealthAbsent},
        {{{9, 0x32, 99, 99, 0x0000123400000010LL}}, false, 0, 16},  // hours in the low 32 bits
    };
    for (const Case& c : cases) {
        DiskHealth h;
        h.attributes =
            health::ReadAtaAttributes(AttributePage(c.entries).data(), ThresholdPage({}).data());
        health::Summarise(h);
        EXPECT_EQ(h.hasTemperature, c.hasTemperature);
        if (c.hasTemperature) {
            EXPECT_EQ(h.temperature, c.temperature);
        }
        EXPECT_EQ(h.powerOnHours, c.hours);
        EXPECT_EQ(h.reallocatedSectors, kHealthAbsent);
    }
    DiskHealth nvme;
    nvme.hasNvmeLog = true;
    nvme.nvme = health::ReadNvmeHealthLog(NvmeLog({0, 323, 100, 10, 0, 0}).data());
    health::Summarise(nvme);
    EXPECT_TRUE(nvme.hasTemperature);
    EXPECT_EQ(nvme.temperature, 50);
}

}  // namespace
}  // namespace Ovra
