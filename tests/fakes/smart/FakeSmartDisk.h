#pragma once

// The SMART disk as the soak program builds it; everything else uses SmartDisk directly.

#include "tests/fakes/FakePlatform.h"

namespace Ovra {
namespace fakes {

struct SmartAttributeEntry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t value;
    std::uint8_t worst;
};

struct SmartThresholdEntry {
    std::uint8_t id;
    std::uint8_t threshold;
};

class FakeSmartDisk : public SimDevice {
public:
    FakeSmartDisk(const std::vector<SmartAttributeEntry>& attributes,
                  const std::vector<SmartThresholdEntry>& thresholds) {
        std::vector<Bytes> a, t;
        for (const auto& e : attributes)
            a.push_back(
                {e.id, std::uint8_t(e.flags), std::uint8_t(e.flags >> 8), e.value, e.worst});
        for (const auto& e : thresholds) t.push_back({e.id, e.threshold});
        static_cast<SimDevice&>(*this) = SmartDisk(SmartPage(a), SmartPage(t));
    }
};

}  // namespace fakes
}  // namespace Ovra
