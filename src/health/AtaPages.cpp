#include "src/health/AtaPages.h"

#include "src/health/AttributeNames.h"
#include "src/health/HealthIoctl.h"

namespace Ovra {
namespace health {

namespace {
using smart::kEntryCount;
using smart::kEntrySize;
using smart::kFirstEntry;
const std::uint8_t kIdentifySignature = 0xA5;

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\0';
}
}  // namespace

bool PageChecksumOk(const std::uint8_t* page) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kAtaPageSize; ++i) sum = static_cast<std::uint8_t>(sum + page[i]);
    return sum == 0;
}

bool IdentifyChecksumOk(const std::uint8_t* page) {
    return page[kAtaPageSize - 2] != kIdentifySignature || PageChecksumOk(page);
}

std::wstring AtaString(const std::uint8_t* page, std::size_t first, std::size_t words) {
    std::wstring text;
    for (std::size_t w = first; w < first + words; ++w) {
        // Words are little-endian; the first character of each pair is the high byte.
        text += static_cast<wchar_t>(page[2 * w + 1]);
        text += static_cast<wchar_t>(page[2 * w]);
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && Blank(text[begin])) ++begin;
    while (end > begin && Blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

void ReadAtaIdentity(const std::uint8_t* page, DiskHealth& health) {
    health.serial = AtaString(page, 10, 10);
    health.firmware = AtaString(page, 23, 4);
    health.model = AtaString(page, 27, 20);
}

std::vector<DiskHealthAttribute> ReadAtaAttributes(const std::uint8_t* data,
                                                   const std::uint8_t* thresholds) {
    std::vector<DiskHealthAttribute> attributes;
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        const std::uint8_t* entry = data + kFirstEntry + i * kEntrySize;
        if (entry[0] == 0) continue;
        DiskHealthAttribute a;
        a.id = entry[0];
        a.name = AttributeName(a.id);
        a.flags = entry[1] | (entry[2] << 8);
        a.value = entry[3];
        a.worst = entry[4];
        for (int b = 5; b >= 0; --b) a.raw = (a.raw << 8) | entry[5 + b];
        for (std::size_t t = 0; t < kEntryCount; ++t) {
            const std::uint8_t* limit = thresholds + kFirstEntry + t * kEntrySize;
            if (limit[0] == entry[0]) a.threshold = limit[1];
        }
        a.preFailure = (a.flags & 1) != 0;
        a.failingNow = a.threshold != 0 && a.value <= a.threshold;
        a.failedInPast = a.threshold != 0 && a.worst <= a.threshold;
        attributes.push_back(a);
    }
    return attributes;
}

DiskHealth::Assessment AssessmentFromRegisters(std::uint8_t lbaMid, std::uint8_t lbaHigh) {
    if (lbaMid == kStatusGoodMid && lbaHigh == kStatusGoodHigh) return DiskHealth::Passed;
    if (lbaMid == kStatusFailingMid && lbaHigh == kStatusFailingHigh) return DiskHealth::Failed;
    return DiskHealth::NotAssessed;
}

}  // namespace health
}  // namespace Ovra
