#include "src/smart/SmartReader.h"

#include "base/platform/DeviceHandle.h"
#include <Ovra/ResultCodes.h>
#include "src/smart/SmartIoctl.h"
#include "src/smart/SmartPages.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace Ovra {
namespace smart {

namespace {

using platform::Handle;
using platform::Sys;

// The attributes every successful reading reports, in order; the 0 ends the list.
const unsigned char kMonitoredIds[] = {1,   2,   3,   4,   5,   7,   9,   10,  11,  12,  13, 193,
                                       194, 195, 196, 197, 198, 199, 200, 202, 221, 228, 0};

// Opened by hand rather than with DeviceHandle: a null handle (127) must stay apart from a failed
// open (121), which DeviceHandle folds together.
Handle OpenSmartDevice(std::size_t disk) {
    wchar_t path[30];
    // The device number is the low 32 bits, printed signed.
    const int number = static_cast<int>(static_cast<std::uint32_t>(disk));
    std::swprintf(path, sizeof(path) / sizeof(path[0]), L"\\\\.\\PHYSICALDRIVE%d", number);
    return Sys().CreateFileW(path, platform::kGenericRead | platform::kGenericWrite,
                             platform::kFileShareReadWrite, platform::kOpenExisting, 0);
}

SENDCMDINPARAMS SmartCommand(std::size_t disk, std::uint8_t features, std::uint32_t bufferSize) {
    SENDCMDINPARAMS command;
    std::memset(&command, 0, sizeof(command));
    command.cBufferSize = bufferSize;
    command.irDriveRegs.bFeaturesReg = features;
    command.irDriveRegs.bSectorCountReg = 1;
    command.irDriveRegs.bSectorNumberReg = 1;
    command.irDriveRegs.bCylLowReg = kSmartCylLow;
    command.irDriveRegs.bCylHighReg = kSmartCylHi;
    command.irDriveRegs.bDriveHeadReg = kSmartDriveHead;
    command.irDriveRegs.bCommandReg = kSmartCmd;
    command.bDriveNumber = static_cast<std::uint8_t>(disk & 0xFF);
    return command;
}

bool EnableSmart(Handle device, std::size_t disk) {
    GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof(version));
    std::uint32_t returned = 0;
    if (!Sys().DeviceIoControl(device, kSmartGetVersion, nullptr, 0, &version, sizeof(version),
                               &returned)) {
        return false;
    }
    if ((version.fCapabilities & kCapSmartCmd) == 0) return false;

    const SENDCMDINPARAMS command = SmartCommand(disk, kEnableSmart, 0);
    SENDCMDOUTPARAMS status;
    std::memset(&status, 0, sizeof(status));
    return Sys().DeviceIoControl(device, kSmartSendDriveCommand, &command, sizeof(command), &status,
                                 sizeof(status), &returned) != 0;
}

// Fills `table` from the attribute page (when it can be read) and the threshold page; false when
// the threshold page cannot be read.
bool ReadSmartData(Handle device, std::size_t disk, SmartTable& table) {
    SENDCMDINPARAMS command = SmartCommand(disk, kReadAttributes, kSmartPageSize);
    SmartDataReply reply;
    std::memset(&reply, 0, sizeof(reply));
    std::uint32_t returned = 0;
    if (Sys().DeviceIoControl(device, kSmartRcvDriveData, &command, sizeof(command), &reply,
                              sizeof(reply), &returned)) {
        ReadAttributeEntries(reply.bBuffer, table);
    }

    command.irDriveRegs.bFeaturesReg = kReadThresholds;
    command.cBufferSize = kSmartPageSize;
    std::memset(&reply, 0, sizeof(reply));
    if (!Sys().DeviceIoControl(device, kSmartRcvDriveData, &command, sizeof(command), &reply,
                               sizeof(reply), &returned)) {
        return false;
    }
    ReadThresholdEntries(reply.bBuffer, table);
    return true;
}

}  // namespace

int ReadSmartAttributes(std::size_t disk, std::map<unsigned char, HddSmartAttr>& attrs) {
    const Handle device = OpenSmartDevice(disk);
    if (device == platform::InvalidHandle()) return result::kNotFound;
    if (device == nullptr) return result::kNoSmart;

    int result = result::kNoSmart;
    SmartTable table{};
    if (EnableSmart(device, disk)) {
        result = ReadSmartData(device, disk, table) ? result::kOk : result::kSystemFailed;
    }
    Sys().CloseHandle(device);
    if (result != result::kOk) return result;

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
