// Any 1024 bytes as an attribute page and a threshold page: the walks stay inside the pages and
// only ever fill the slots of ids that the pages name.
#include "src/smart/SmartPages.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Ovra::smart::SmartPage pages[2] = {};  // attributes, thresholds
    std::memcpy(pages, data, std::min(size, sizeof pages));
    Ovra::smart::SmartTable table{};
    Ovra::smart::ReadAttributeEntries(pages[0], table);
    Ovra::smart::ReadThresholdEntries(pages[1], table);
    for (int id = 0; id < 256; ++id) {
        const auto& slot = table[static_cast<std::size_t>(id)];
        if (slot.flags == 0 && slot.value == 0 && slot.worst == 0 && slot.threshold == 0) continue;
        bool named = false;
        for (int entry = 0; entry < 30 && !named; ++entry)
            named = pages[0][2 + entry * 12] == id || pages[1][2 + entry * 12] == id;
        if (!named || id == 0) std::abort();  // a slot filled from nowhere, or from an empty entry
    }
    return 0;
}
