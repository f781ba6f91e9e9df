#include <Ovra/DiskHealth.h>

#include <Ovra/ResultCodes.h>
#include "src/health/AttributeNames.h"
#include "src/health/HealthReaders.h"

#include <new>

namespace Ovra {

int ReadDiskHealth(long long disk, DiskHealth& health, int temperatureLimit) {
    try {
        return health::ReadHealth(disk, health, temperatureLimit);
    } catch (const std::bad_alloc&) {
        return result::kOutOfMemory;
    }
}

const wchar_t* SmartAttributeName(int id) {
    return health::AttributeName(id);
}

const wchar_t* DiskHealthVerdictName(int verdict) {
    switch (verdict) {
        case DiskHealth::Good:
            return L"Good";
        case DiskHealth::Warning:
            return L"Warning";
        case DiskHealth::Failing:
            return L"Failing";
        default:
            return L"Unknown";
    }
}

}  // namespace Ovra
