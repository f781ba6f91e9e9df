// Any 1024 bytes as an attribute page and a threshold page: the walks stay inside the pages and
// only ever fill the slots of ids that the pages name.
#include "src/smart/SmartPages.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Ovra::smart::SmartPage attributes{}, thresholds{};
    const std::size_t first = size < sizeof attributes ? size : sizeof attributes;
    std::memcpy(&attributes, data, first);
    if (size > first) {
        const std::size_t rest = size - first;
        std::memcpy(&thresholds, data + first, rest < sizeof thresholds ? rest : sizeof thresholds);
    }
    Ovra::smart::SmartTable table{};
    Ovra::smart::ReadAttributeEntries(attributes, table);
    Ovra::smart::ReadThresholdEntries(thresholds, table);
    const std::uint8_t* a = reinterpret_cast<const std::uint8_t*>(&attributes);
    const std::uint8_t* t = reinterpret_cast<const std::uint8_t*>(&thresholds);
    for (int id = 0; id < 256; ++id) {
        const auto& slot = table[static_cast<std::size_t>(id)];
        if (slot.flags == 0 && slot.value == 0 && slot.worst == 0 && slot.threshold == 0) continue;
        bool named = false;
        for (int entry = 0; entry < 30 && !named; ++entry) {
            named = a[2 + entry * 12] == id || t[2 + entry * 12] == id;
        }
        if (!named || id == 0) std::abort();  // a slot filled from nowhere, or from an empty entry
    }
    return 0;
}
