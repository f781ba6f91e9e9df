#include "src/health/NvmePages.h"

#include <limits>
#include <string>

namespace Ovra {
namespace health {

namespace {

const std::size_t kOacsAt = 256;
const std::uint8_t kOacsSelfTest = 0x10;
const std::size_t kElpeAt = 262;
const std::uint32_t kMaxErrorEntries = 64;
// The Device Self-test log: current operation and completion, then 20 results of 28 bytes.
const std::size_t kFirstResult = 4;
const std::size_t kResultSize = 28;
const std::size_t kResultCount = 20;
const std::uint8_t kFailingLbaValid = 0x02;

std::wstring AsciiField(const std::uint8_t* bytes, std::size_t size) {
    std::size_t begin = 0;
    std::size_t end = size;
    auto blank = [](std::uint8_t c) { return c == ' ' || c == '\0'; };
    while (begin < end && blank(bytes[begin])) ++begin;
    while (end > begin && blank(bytes[end - 1])) --end;
    return std::wstring(bytes + begin, bytes + end);
}

unsigned long long Little64(const std::uint8_t* bytes) {
    unsigned long long value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

long long Capped(unsigned long long value) {
    const unsigned long long limit = std::numeric_limits<long long>::max();
    return static_cast<long long>(value > limit ? limit : value);
}

// The result codes of a Device Self-test log entry, as the nearest ATA results; -1 for the
// codes that name none (reserved, and Fh: an unused entry).
int ResultOf(int code) {
    switch (code) {
        case 0:
            return DiskSelfTest::Passed;
        case 2:
            return DiskSelfTest::Interrupted;
        case 1:
        case 3:
        case 4:
        case 8:
        case 9:
            return DiskSelfTest::Aborted;
        case 5:
            return DiskSelfTest::Fatal;
        case 6:
            return DiskSelfTest::UnknownFailure;
        case 7:
            return DiskSelfTest::ReadFailure;
        default:
            return -1;
    }
}

}  // namespace

unsigned long long Counter128(const std::uint8_t* bytes) {
    return Little64(bytes + 8) != 0 ? std::numeric_limits<unsigned long long>::max()
                                    : Little64(bytes);
}

NvmeHealthLog ReadNvmeHealthLog(const std::uint8_t* page, std::size_t length) {
    NvmeHealthLog log;
    if (!page || length < kNvmeHealthLogSize) return log;
    log.criticalWarning = page[0];
    log.temperatureKelvin = page[1] | (page[2] << 8);
    log.availableSpare = page[3];
    log.spareThreshold = page[4];
    log.percentageUsed = page[5];
    log.dataUnitsRead = Counter128(page + 32);
    log.dataUnitsWritten = Counter128(page + 48);
    log.powerCycles = Counter128(page + 112);
    log.powerOnHours = Counter128(page + 128);
    log.unsafeShutdowns = Counter128(page + 144);
    log.mediaErrors = Counter128(page + 160);
    return log;
}

void ReadNvmeIdentity(const std::uint8_t* page, std::size_t length, DiskHealth& health) {
    if (!page || length < 72) return;
    health.serial = AsciiField(page + 4, 20);
    health.model = AsciiField(page + 24, 40);
    health.firmware = AsciiField(page + 64, 8);
}

bool NvmeCanSelfTest(const std::uint8_t* page, std::size_t length) {
    return page && length > kOacsAt && (page[kOacsAt] & kOacsSelfTest) != 0;
}

std::uint32_t NvmeErrorLogEntries(const std::uint8_t* page, std::size_t length) {
    if (!page || length <= kElpeAt) return 1;
    const std::uint32_t entries = page[kElpeAt] + 1u;
    return entries < kMaxErrorEntries ? entries : kMaxErrorEntries;
}

int NvmeSelfTestRemaining(const std::uint8_t* page, std::size_t length) {
    if (!page || length < 2 || (page[0] & 0x0F) == 0) return -1;
    const int complete = page[1] & 0x7F;
    return complete < 100 ? 100 - complete : 0;
}

std::vector<DiskSelfTest> ReadNvmeSelfTests(const std::uint8_t* page, std::size_t length) {
    std::vector<DiskSelfTest> tests;
    for (std::size_t i = 0; page && i < kResultCount; ++i) {
        const std::size_t at = kFirstResult + i * kResultSize;
        if (at + kResultSize > length) break;
        const std::uint8_t* entry = page + at;
        const int kind = entry[0] >> 4;
        const int result = ResultOf(entry[0] & 0x0F);
        if (result < 0 || (kind != DiskSelfTest::Short && kind != DiskSelfTest::Extended)) continue;
        DiskSelfTest test;
        test.kind = static_cast<DiskSelfTest::Kind>(kind);
        test.result = static_cast<DiskSelfTest::Result>(result);
        test.powerOnHours = Capped(Little64(entry + 4));
        if (entry[2] & kFailingLbaValid) test.failingLba = Capped(Little64(entry + 16));
        tests.push_back(test);
    }
    return tests;
}

long long CountNvmeErrors(const std::uint8_t* page, std::size_t length) {
    long long count = 0;
    for (std::size_t at = 0; page && at + kNvmeErrorEntrySize <= length; at += kNvmeErrorEntrySize)
        if (Little64(page + at) != 0) ++count;
    return count;
}

}  // namespace health
}  // namespace Ovra
