#include <Ovra/ResultCodes.h>
#include "base/platform/WinIoctl.h"
#include "src/ata/AtaCommands.h"
#include "src/health/HealthReaders.h"
#include "src/health/HealthVerdict.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace Ovra {
namespace health {

namespace {

// The bus type from the storage device descriptor; 0 (unknown) when it cannot be read. The
// buffer has room for the whole descriptor: some drivers refuse one that holds only its head.
std::uint32_t BusType(ata::DiskDevice& device) {
    // StorageDeviceProperty, PropertyStandardQuery.
    const std::uint32_t query[3] = {platform::kStorageDeviceProperty, 0, 0};
    std::uint8_t buffer[1024] = {};
    std::uint32_t returned = 0;
    platform::StorageDeviceDescriptor head{};
    const std::size_t busTypeEnd = offsetof(platform::StorageDeviceDescriptor, busType) + 4;
    if (!device.Control(platform::kIoctlStorageQueryProperty, query, sizeof query, buffer,
                        sizeof buffer, &returned) ||
        returned < busTypeEnd) {
        return 0;
    }
    std::memcpy(&head, buffer, busTypeEnd);
    return static_cast<std::uint32_t>(head.busType);
}

int Unknown(DiskHealth& health, int code, const std::wstring& reason) {
    if (!reason.empty()) health.reasons.push_back(reason);
    health.verdict = DiskHealth::Unknown;
    return code;
}

}  // namespace

bool UsesAta(ata::DiskDevice& device) {
    return BusType(device) != static_cast<std::uint32_t>(platform::kBusTypeNvme) &&
           ata::TakesSmartCommands(device);
}

int ReadHealth(long long disk, DiskHealth& health, int temperatureLimit) {
    health = DiskHealth();
    const std::wstring name = L"disk " + std::to_wstring(disk);
    if (disk < 0) return Unknown(health, result::kNotFound, L"no " + name);
    ata::DiskDevice device(platform::PhysicalDrivePath(static_cast<unsigned long long>(disk)),
                           disk);
    if (!device.IsOpen()) return Unknown(health, result::kNotFound, name + L" cannot be opened");

    const int code =
        UsesAta(device) ? ReadAtaHealth(device, health) : ReadNvmeHealth(device, health);
    if (code == result::kNoSmart)
        return Unknown(health, code,
                       name + L" answers neither SMART commands nor NVMe health queries");
    if (code != result::kOk) return Unknown(health, code, std::wstring());

    Summarise(health);
    Judge(health, temperatureLimit);
    return result::kOk;
}

}  // namespace health
}  // namespace Ovra
