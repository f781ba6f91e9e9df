#pragma once

// Reading the NVMe SMART / Health Information log and the Identify Controller data. Pure
// functions over whatever bytes the device returned.

#include <Ovra/DiskHealth.h>

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace health {

// A 128-bit little-endian counter: its low 64 bits, or the largest 64-bit value when higher.
unsigned long long Counter128(const std::uint8_t* bytes);

// The 512-byte health log (log page 02h).
NvmeHealthLog ReadNvmeHealthLog(const std::uint8_t* page);

// Serial (bytes 4-23), model (24-63) and firmware (64-71) of Identify Controller, trimmed.
void ReadNvmeIdentity(const std::uint8_t* page, DiskHealth& health);

}  // namespace health
}  // namespace Ovra
