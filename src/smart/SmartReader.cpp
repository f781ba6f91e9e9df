#include "src/smart/SmartReader.h"

#include <Ovra/ResultCodes.h>
#include "src/ata/AtaCommands.h"
#include "src/ata/AtaPages.h"

#include <array>
#include <cstdint>
#include <cwchar>

namespace Ovra {
namespace smart {

namespace {

// The attributes every successful reading reports, in order; the 0 ends the list.
const unsigned char kMonitoredIds[] = {1,   2,   3,   4,   5,   7,   9,   10,  11,  12,  13, 193,
                                       194, 195, 196, 197, 198, 199, 200, 202, 221, 228, 0};

// What one call learnt about one attribute id. Slots the pages do not fill stay zero.
struct SmartSlot {
    std::uint16_t flags = 0;
    std::uint8_t value = 0;
    std::uint8_t worst = 0;
    std::uint8_t threshold = 0;
};
using SmartTable = std::array<SmartSlot, 256>;

std::wstring DevicePath(std::size_t disk) {
    wchar_t path[30];
    // The device number is the low 32 bits, printed signed.
    const int number = static_cast<int>(static_cast<std::uint32_t>(disk));
    std::swprintf(path, sizeof(path) / sizeof(path[0]), L"\\\\.\\PHYSICALDRIVE%d", number);
    return path;
}

// Fills `table` from the attribute page (when it can be read) and the threshold page; false when
// the threshold page cannot be read. A later entry of an id overwrites an earlier one.
bool ReadSmartData(ata::DiskDevice& device, SmartTable& table) {
    ata::DataReply reply;
    if (ata::ReadSmartPage(device, platform::kReadAttributes, reply)) {
        for (std::size_t i = 0; i < ata::kAttributeEntries; ++i) {
            const ata::AttributeEntry entry =
                ata::AttributeAt(reply.bBuffer.data(), ata::kPageSize, i);
            if (entry.id == 0) continue;
            SmartSlot& slot = table[entry.id];
            slot.flags = entry.flags;
            slot.value = entry.value;
            slot.worst = entry.worst;
        }
    }
    if (!ata::ReadSmartPage(device, platform::kReadThresholds, reply)) return false;
    for (std::size_t i = 0; i < ata::kAttributeEntries; ++i) {
        const ata::ThresholdEntry entry = ata::ThresholdAt(reply.bBuffer.data(), ata::kPageSize, i);
        if (entry.id != 0) table[entry.id].threshold = entry.threshold;
    }
    return true;
}

}  // namespace

int ReadSmartAttributes(std::size_t disk, std::map<unsigned char, HddSmartAttr>& attrs) {
    ata::DiskDevice device(DevicePath(disk), static_cast<long long>(disk));
    if (device.OpenFailed()) return result::kNotFound;
    if (!device.IsOpen()) return result::kNoSmart;

    SmartTable table{};
    if (!ata::TakesSmartCommands(device) || !ata::SendSmart(device, platform::kEnableSmart))
        return result::kNoSmart;
    if (!ReadSmartData(device, table)) return result::kSystemFailed;

    for (const unsigned char* id = kMonitoredIds; *id != 0; ++id) {
        const SmartSlot& slot = table[*id];
        HddSmartAttr& attr = attrs[*id];
        attr.id = *id;
        attr.reserved = 0;
        attr.value = slot.value;
        attr.worst = slot.worst;
        attr.threshold = slot.threshold;
        attr.flags = slot.flags;
    }
    return result::kOk;
}

}  // namespace smart
}  // namespace Ovra
