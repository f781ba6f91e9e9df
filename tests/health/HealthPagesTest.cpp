// Decoding of the ATA and NVMe health pages from bytes, without a device.
#include "tests/health/HealthPages.h"

#include "src/health/AtaPages.h"
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
    const std::vector<DiskHealthAttribute> got = health::ReadAtaAttributes(
        AttributePage(entries).data(), ThresholdPage({{9, 0}, {1, 36}, {3, 21}, {5, 10}}).data());

    // id, value, worst, threshold, raw, flags, pre-failure, failing now, failed in the past
    const std::vector<long long> expected[] = {{5, 100, 100, 10, 0x0A0B0C0D0E0FLL, 0x33, 1, 0, 0},
                                               {9, 99, 98, 0, 1234, 0x32, 0, 0, 0},
                                               {1, 36, 36, 36, 0, 0x0F, 1, 1, 1},
                                               {3, 90, 20, 21, 0, 0x27, 1, 0, 1},
                                               {200, 0, 0, 0, 0, 0, 0, 0, 0}};
    ASSERT_EQ(got.size(), std::size(expected));
    for (std::size_t i = 0; i < got.size(); ++i) {
        const DiskHealthAttribute& a = got[i];
        EXPECT_EQ(std::vector<long long>({a.id, a.value, a.worst, a.threshold, a.raw, a.flags,
                                          a.preFailure, a.failingNow, a.failedInPast}),
                  expected[i]);
    }
    EXPECT_EQ(got[0].name, L"Reallocated Sectors Count");
}

TEST(HealthPages, NvmeWideCountersKeepTheirLow64BitsOrSaturate) {
    Bytes page = NvmeLog(0x05, 7, 91);
    Put(page, 32, 0x1122334455667788ULL, 8);  // data units read: fits in 64 bits
    Put(page, 48 + 8, 1, 1);                  // data units written: beyond 64 bits
    const std::pair<std::size_t, unsigned long long NvmeHealthLog::*> counters[] = {
        {112, &NvmeHealthLog::powerCycles},
        {128, &NvmeHealthLog::powerOnHours},
        {144, &NvmeHealthLog::unsafeShutdowns},
        {160, &NvmeHealthLog::mediaErrors}};
    for (std::size_t i = 0; i < std::size(counters); ++i) Put(page, counters[i].first, i + 1, 8);
    const NvmeHealthLog log = health::ReadNvmeHealthLog(page.data());
    EXPECT_EQ(std::vector<int>({log.criticalWarning, log.temperatureKelvin, log.availableSpare,
                                log.spareThreshold, log.percentageUsed}),
              std::vector<int>({5, 323, 7, 10, 91}));
    EXPECT_EQ(log.dataUnitsRead, 0x1122334455667788ULL);
    EXPECT_EQ(log.dataUnitsWritten, ~0ULL);
    for (std::size_t i = 0; i < std::size(counters); ++i) EXPECT_EQ(log.*counters[i].second, i + 1);
}

}  // namespace
}  // namespace Ovra
