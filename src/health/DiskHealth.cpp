#include <Ovra/DiskHealth.h>

#include <Ovra/ResultCodes.h>
#include "src/ata/AttributeNames.h"
#include "src/health/HealthReaders.h"
#include "src/health/SelfTestNames.h"

#include <new>

namespace Ovra {

int ReadDiskHealth(long long disk, DiskHealth& health, int temperatureLimit) {
    try {
        return health::ReadHealth(disk, health, temperatureLimit);
    } catch (const std::bad_alloc&) {
        return result::kOutOfMemory;
    }
}

namespace {

int SelfTestCommand(long long disk, int kind, bool abort, std::wstring& reason) {
    try {
        return health::RunSelfTestCommand(disk, kind, abort, reason);
    } catch (const std::bad_alloc&) {
        return result::kOutOfMemory;
    }
}

}  // namespace

int StartDiskSelfTest(long long disk, int kind, std::wstring& reason) {
    return SelfTestCommand(disk, kind, false, reason);
}

int AbortDiskSelfTest(long long disk, std::wstring& reason) {
    return SelfTestCommand(disk, 0, true, reason);
}

const wchar_t* DiskSelfTestKindName(int kind) {
    return health::SelfTestKindName(kind);
}

const wchar_t* DiskSelfTestResultName(int result) {
    return health::SelfTestResultName(result);
}

const wchar_t* SmartAttributeName(int id) {
    return ata::AttributeName(id);
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
