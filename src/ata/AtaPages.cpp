#include "src/ata/AtaPages.h"

#include "src/ata/AttributeNames.h"

namespace Ovra {
namespace ata {

namespace {

const std::uint8_t kIdentifySignature = 0xA5;
// The attribute and threshold pages: 12-byte entries after the 2-byte structure revision.
const std::size_t kFirstEntry = 2;
const std::size_t kEntrySize = 12;
// SMART data: self-test execution status and off-line data collection capability.
const std::size_t kSelfTestStatusAt = 363;
const std::size_t kCapabilityAt = 367;
const std::size_t kErrorLoggingAt = 370;
const std::uint8_t kCanSelfTest = 0x10;
const std::uint8_t kCanConveyance = 0x20;
const int kRunning = 15;
// The self-test log: 21 descriptors of 24 bytes from byte 2; byte 508 the newest (1-21).
const std::size_t kSelfTestDescriptors = 21;
const std::size_t kDescriptorSize = 24;
const std::size_t kNewestAt = 508;
const std::size_t kErrorCountAt = 452;

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\0';
}

// The entry at `at`, or null when `size` bytes from there are not all within `length`.
const std::uint8_t* Within(const std::uint8_t* page, std::size_t length, std::size_t at,
                           std::size_t size) {
    return page && at + size <= length ? page + at : nullptr;
}

bool IsFailure(DiskSelfTest::Result result) {
    return result >= DiskSelfTest::Fatal && result <= DiskSelfTest::HandlingDamage;
}

// The self-test number of a log descriptor (LBA low of the command that started it; 81h-83h
// the captive forms); false for the selective and vendor tests.
bool KindOf(std::uint8_t number, DiskSelfTest::Kind& kind) {
    const std::uint8_t offline = number & 0x7F;
    if (offline > DiskSelfTest::Conveyance || number == 0x80) return false;
    kind = static_cast<DiskSelfTest::Kind>(offline);
    return true;
}

}  // namespace

bool PageChecksumOk(const std::uint8_t* page, std::size_t length) {
    if (!Within(page, length, 0, kPageSize)) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kPageSize; ++i) sum = static_cast<std::uint8_t>(sum + page[i]);
    return sum == 0;
}

bool IdentifyChecksumOk(const std::uint8_t* page, std::size_t length) {
    const std::uint8_t* signature = Within(page, length, kPageSize - 2, 1);
    return signature && (*signature != kIdentifySignature || PageChecksumOk(page, length));
}

std::wstring AtaString(const std::uint8_t* page, std::size_t length, std::size_t first,
                       std::size_t words) {
    const std::uint8_t* bytes = Within(page, length, 2 * first, 2 * words);
    if (!bytes) return std::wstring();
    std::wstring text;
    for (std::size_t w = 0; w < words; ++w) {
        // Words are little-endian; the first character of each pair is the high byte.
        text += static_cast<wchar_t>(bytes[2 * w + 1]);
        text += static_cast<wchar_t>(bytes[2 * w]);
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && Blank(text[begin])) ++begin;
    while (end > begin && Blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

void ReadIdentity(const std::uint8_t* page, std::size_t length, DiskHealth& health) {
    health.serial = AtaString(page, length, 10, 10);
    health.firmware = AtaString(page, length, 23, 4);
    health.model = AtaString(page, length, 27, 20);
}

AttributeEntry AttributeAt(const std::uint8_t* page, std::size_t length, std::size_t index) {
    AttributeEntry entry;
    const std::uint8_t* bytes = Within(page, length, kFirstEntry + index * kEntrySize, kEntrySize);
    if (!bytes || index >= kAttributeEntries) return entry;
    entry.id = bytes[0];
    entry.flags = static_cast<std::uint16_t>(bytes[1] | bytes[2] << 8);
    entry.value = bytes[3];
    entry.worst = bytes[4];
    for (int b = 5; b >= 0; --b) entry.raw = entry.raw << 8 | bytes[5 + b];
    return entry;
}

ThresholdEntry ThresholdAt(const std::uint8_t* page, std::size_t length, std::size_t index) {
    const std::uint8_t* bytes = Within(page, length, kFirstEntry + index * kEntrySize, 2);
    if (!bytes || index >= kAttributeEntries) return ThresholdEntry();
    return ThresholdEntry{bytes[0], bytes[1]};
}

std::vector<DiskHealthAttribute> ReadAttributes(const std::uint8_t* data, std::size_t dataLength,
                                                const std::uint8_t* thresholds,
                                                std::size_t thresholdsLength) {
    std::vector<DiskHealthAttribute> attributes;
    for (std::size_t i = 0; i < kAttributeEntries; ++i) {
        const AttributeEntry entry = AttributeAt(data, dataLength, i);
        if (entry.id == 0) continue;
        DiskHealthAttribute a;
        a.id = entry.id;
        a.name = AttributeName(a.id);
        a.flags = entry.flags;
        a.value = entry.value;
        a.worst = entry.worst;
        a.raw = entry.raw;
        for (std::size_t t = 0; t < kAttributeEntries; ++t) {
            const ThresholdEntry limit = ThresholdAt(thresholds, thresholdsLength, t);
            if (limit.id == entry.id) a.threshold = limit.threshold;
        }
        a.preFailure = (a.flags & 1) != 0;
        a.failingNow = a.threshold != 0 && a.value <= a.threshold;
        a.failedInPast = a.threshold != 0 && a.worst <= a.threshold;
        attributes.push_back(a);
    }
    return attributes;
}

SelfTestStatus ReadSelfTestStatus(const std::uint8_t* data, std::size_t length) {
    SelfTestStatus status;
    const std::uint8_t* bytes =
        Within(data, length, kSelfTestStatusAt, kErrorLoggingAt + 1 - kSelfTestStatusAt);
    if (!bytes) return status;
    const std::uint8_t execution = bytes[0];
    const std::uint8_t capability = bytes[kCapabilityAt - kSelfTestStatusAt];
    if (execution >> 4 == kRunning) status.percentRemaining = (execution & 0x0F) * 10;
    status.canSelfTest = (capability & kCanSelfTest) != 0;
    status.canConveyance = status.canSelfTest && (capability & kCanConveyance) != 0;
    status.logsErrors = (bytes[kErrorLoggingAt - kSelfTestStatusAt] & 1) != 0;
    return status;
}

std::vector<DiskSelfTest> ReadSelfTestLog(const std::uint8_t* page, std::size_t length) {
    std::vector<DiskSelfTest> tests;
    const std::uint8_t* newest = Within(page, length, kNewestAt, 1);
    if (!newest || *newest == 0 || *newest > kSelfTestDescriptors) return tests;
    for (std::size_t n = 0; n < kSelfTestDescriptors; ++n) {
        const std::size_t slot = (*newest - 1 + kSelfTestDescriptors - n) % kSelfTestDescriptors;
        const std::uint8_t* d = page + 2 + slot * kDescriptorSize;
        bool used = false;
        for (std::size_t i = 0; i < kDescriptorSize; ++i) used = used || d[i] != 0;
        DiskSelfTest test;
        const int result = d[1] >> 4;
        if (!used || !KindOf(d[0], test.kind) || result > DiskSelfTest::HandlingDamage) continue;
        test.result = static_cast<DiskSelfTest::Result>(result);
        test.powerOnHours = d[2] | d[3] << 8;
        const long long lba = d[5] | d[6] << 8 | d[7] << 16 | static_cast<long long>(d[8]) << 24;
        if (lba != 0xFFFFFFFFLL && (lba != 0 || IsFailure(test.result))) test.failingLba = lba;
        tests.push_back(test);
    }
    return tests;
}

long long ReadErrorCount(const std::uint8_t* page, std::size_t length) {
    const std::uint8_t* count = Within(page, length, kErrorCountAt, 2);
    return count ? count[0] | count[1] << 8 : kHealthAbsent;
}

}  // namespace ata
}  // namespace Ovra
