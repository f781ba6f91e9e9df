#pragma once

// Reading the NVMe Identify Controller data and log pages. Pure functions over whatever bytes the
// device returned, each reading no further than `length`: what lies beyond reads as absent.

#include <Ovra/DiskHealth.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Ovra {
namespace health {

const std::uint32_t kNvmeIdentifySize = 4096;
const std::uint32_t kNvmeHealthLogSize = 512;
const std::uint32_t kNvmeSelfTestLogSize = 564;
const std::uint32_t kNvmeErrorEntrySize = 64;

// A 128-bit little-endian counter: its low 64 bits, or the largest 64-bit value when higher.
unsigned long long Counter128(const std::uint8_t* bytes);

// The SMART / Health Information log (page 02h, 512 bytes).
NvmeHealthLog ReadNvmeHealthLog(const std::uint8_t* page, std::size_t length);

// Serial (bytes 4-23), model (24-63) and firmware (64-71) of Identify Controller, trimmed.
void ReadNvmeIdentity(const std::uint8_t* page, std::size_t length, DiskHealth& health);

// Identify Controller: whether the controller runs Device Self-tests (OACS bit 4), and how many
// entries of the Error Information log to read (ELPE + 1, at most 64).
bool NvmeCanSelfTest(const std::uint8_t* page, std::size_t length);
std::uint32_t NvmeErrorLogEntries(const std::uint8_t* page, std::size_t length);

// The Device Self-test log (page 06h): percent remaining of the running test (-1 none), and the
// results newest first, unused entries and vendor tests left out.
int NvmeSelfTestRemaining(const std::uint8_t* page, std::size_t length);
std::vector<DiskSelfTest> ReadNvmeSelfTests(const std::uint8_t* page, std::size_t length);

// The entries of the Error Information log (64 bytes each) whose error count is not 0.
long long CountNvmeErrors(const std::uint8_t* page, std::size_t length);

}  // namespace health
}  // namespace Ovra
