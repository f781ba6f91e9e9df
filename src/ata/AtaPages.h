#pragma once

// The 512-byte ATA pages: IDENTIFY DEVICE, the SMART data (attribute) and threshold pages, the
// SMART self-test log and summary error log. Pure functions over whatever bytes the device
// returned, each reading no further than `length`: what lies beyond reads as empty.

#include <Ovra/DiskHealth.h>

#include "base/platform/WinIoctl.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace ata {

const std::size_t kPageSize = platform::kSmartPageSize;
const std::size_t kAttributeEntries = 30;

// True when the page's 512 bytes sum to 0 modulo 256 (its last byte is the checksum).
bool PageChecksumOk(const std::uint8_t* page, std::size_t length);

// IDENTIFY DEVICE carries a checksum only when word 255's low byte is the signature A5h.
bool IdentifyChecksumOk(const std::uint8_t* page, std::size_t length);

// The ATA string of `words` words from word `first`: two characters per word, high byte first,
// blanks and NULs trimmed at both ends.
std::wstring AtaString(const std::uint8_t* page, std::size_t length, std::size_t first,
                       std::size_t words);

// Model (words 27-46), serial (10-19) and firmware (23-26) of IDENTIFY DEVICE.
void ReadIdentity(const std::uint8_t* page, std::size_t length, DiskHealth& health);

// Entry `index` (0-29) of an attribute page; id 0: empty.
struct AttributeEntry {
    std::uint8_t id = 0;
    std::uint16_t flags = 0;
    std::uint8_t value = 0;
    std::uint8_t worst = 0;
    long long raw = 0;  // 48 bits
};
AttributeEntry AttributeAt(const std::uint8_t* page, std::size_t length, std::size_t index);

// Entry `index` of a threshold page: its id (0: empty) and threshold.
struct ThresholdEntry {
    std::uint8_t id = 0;
    std::uint8_t threshold = 0;
};
ThresholdEntry ThresholdAt(const std::uint8_t* page, std::size_t length, std::size_t index);

// Every filled entry of the attribute page, with the threshold of the same id from the
// threshold page (0 when it lists none; the last entry of an id wins), in page order.
std::vector<DiskHealthAttribute> ReadAttributes(const std::uint8_t* data, std::size_t dataLength,
                                                const std::uint8_t* thresholds,
                                                std::size_t thresholdsLength);

// What the SMART data page says of self-tests and logs: the running test (self-test execution
// status, byte 363), the tests the drive can run (off-line data collection capability, byte
// 367) and whether it keeps an error log (error logging capability, byte 370).
struct SelfTestStatus {
    int percentRemaining = -1;  // of the running test; -1 none
    bool canSelfTest = false;
    bool canConveyance = false;
    bool logsErrors = false;
};
SelfTestStatus ReadSelfTestStatus(const std::uint8_t* data, std::size_t length);

// The SMART self-test log (log 06h): its entries newest first. Entries of kinds and results the
// ATA log reserves, and the entry of the test still running, are left out.
std::vector<DiskSelfTest> ReadSelfTestLog(const std::uint8_t* page, std::size_t length);

// The error count of the summary error log (log 01h); kHealthAbsent when the page is short.
long long ReadErrorCount(const std::uint8_t* page, std::size_t length);

}  // namespace ata
}  // namespace Ovra
