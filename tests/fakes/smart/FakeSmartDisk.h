#pragma once

// A simulated physical disk that answers the SMART requests from tables the test gives.

#include "tests/fakes/FakePlatform.h"

#include <array>
#include <cstdint>
#include <set>
#include <vector>

namespace Ovra {
namespace fakes {

// One 12-byte entry of the attribute page; id 0 is an empty entry.
struct SmartAttributeEntry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t value;
    std::uint8_t worst;
};

// One 12-byte entry of the threshold page; id 0 is an empty entry.
struct SmartThresholdEntry {
    std::uint8_t id;
    std::uint8_t threshold;
};

using SmartPageBytes = std::array<std::uint8_t, 512>;

// Configure before the disk is read; the answers themselves need no lock.
class FakeSmartDisk : public FakeDevice {
public:
    // Only the first 30 entries fit. Every byte that a reader must not look at (revision, raw
    // values, reserved bytes, the tail after the entries) is noise, so a reader that is off by a
    // byte reports wrong values.
    FakeSmartDisk(const std::vector<SmartAttributeEntry>& attributes,
                  const std::vector<SmartThresholdEntry>& thresholds);

    std::uint32_t capabilities = 0x07;  // of the version reply: IDE ID, ATAPI ID, SMART commands
    bool failVersion = false;
    std::set<std::uint8_t> failFeatures;  // 0xD8 enable, 0xD0 attributes, 0xD1 thresholds

    int Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) override;

private:
    SmartPageBytes m_attributePage;
    SmartPageBytes m_thresholdPage;
};

}  // namespace fakes
}  // namespace Ovra
