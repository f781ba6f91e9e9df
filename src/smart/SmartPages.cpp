#include "src/smart/SmartPages.h"

namespace Ovra {
namespace smart {

void ReadAttributeEntries(const SmartPage& page, SmartTable& table) {
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        const std::uint8_t* entry = page.data() + kFirstEntry + i * kEntrySize;
        if (entry[0] == 0) continue;
        SmartSlot& slot = table[entry[0]];
        slot.flags = static_cast<std::uint16_t>(entry[1] | (entry[2] << 8));
        slot.value = entry[3];
        slot.worst = entry[4];
    }
}

void ReadThresholdEntries(const SmartPage& page, SmartTable& table) {
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        const std::uint8_t* entry = page.data() + kFirstEntry + i * kEntrySize;
        if (entry[0] == 0) continue;
        table[entry[0]].threshold = entry[1];
    }
}

}  // namespace smart
}  // namespace Ovra
