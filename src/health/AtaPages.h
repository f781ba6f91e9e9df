#pragma once

// Reading the 512-byte ATA pages of a health reading: IDENTIFY DEVICE and the SMART attribute and
// threshold pages. Pure functions over whatever bytes the device returned.

#include <Ovra/DiskHealth.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace health {

const std::size_t kAtaPageSize = 512;

// True when the bytes of the page sum to 0 modulo 256 (its last byte is the checksum).
bool PageChecksumOk(const std::uint8_t* page);

// IDENTIFY DEVICE carries a checksum only when word 255's low byte is the signature 0xA5.
bool IdentifyChecksumOk(const std::uint8_t* page);

// The ATA string of `words` words from word `first`: two characters per word, high byte first,
// blanks and NULs trimmed at both ends.
std::wstring AtaString(const std::uint8_t* page, std::size_t first, std::size_t words);

// Model (words 27-46), serial (10-19) and firmware (23-26) of IDENTIFY DEVICE.
void ReadAtaIdentity(const std::uint8_t* page, DiskHealth& health);

// Every filled entry of the attribute page, with the threshold of the same id from the threshold
// page (0 when it lists none), in page order.
std::vector<DiskHealthAttribute> ReadAtaAttributes(const std::uint8_t* data,
                                                   const std::uint8_t* thresholds);

// The drive's assessment from the LBA mid/high registers after RETURN STATUS.
DiskHealth::Assessment AssessmentFromRegisters(std::uint8_t lbaMid, std::uint8_t lbaHigh);

}  // namespace health
}  // namespace Ovra
