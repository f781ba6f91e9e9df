#pragma once

// The SMART attribute and threshold pages (ATA SMART data layout) and the per-call attribute
// table they are read into. Pure functions: they accept any page content.

#include "src/smart/SmartIoctl.h"

#include <array>
#include <cstdint>

namespace Ovra {
namespace smart {

// What one call learnt about one attribute id. Slots the pages do not fill stay zero.
struct SmartSlot {
    std::uint16_t flags = 0;
    std::uint8_t value = 0;
    std::uint8_t worst = 0;
    std::uint8_t threshold = 0;
};

using SmartTable = std::array<SmartSlot, 256>;

// Walks the 30 attribute entries: flags, current and worst value of every non-empty entry. A later
// entry with the same id overwrites an earlier one.
void ReadAttributeEntries(const SmartPage& page, SmartTable& table);

// Walks the 30 threshold entries: the threshold byte of every non-empty entry.
void ReadThresholdEntries(const SmartPage& page, SmartTable& table);

}  // namespace smart
}  // namespace Ovra
