#include "src/health/NvmePages.h"

#include <limits>
#include <string>

namespace Ovra {
namespace health {

namespace {

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

}  // namespace

unsigned long long Counter128(const std::uint8_t* bytes) {
    return Little64(bytes + 8) != 0 ? std::numeric_limits<unsigned long long>::max()
                                    : Little64(bytes);
}

NvmeHealthLog ReadNvmeHealthLog(const std::uint8_t* page) {
    NvmeHealthLog log;
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

void ReadNvmeIdentity(const std::uint8_t* page, DiskHealth& health) {
    health.serial = AsciiField(page + 4, 20);
    health.model = AsciiField(page + 24, 40);
    health.firmware = AsciiField(page + 64, 8);
}

}  // namespace health
}  // namespace Ovra
