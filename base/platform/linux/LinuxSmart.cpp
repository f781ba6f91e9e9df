#include "base/platform/linux/LinuxSmart.h"

#include "base/platform/Platform.h"
#include "base/platform/WinIoctl.h"
#include "base/platform/linux/SgIo.h"

#include <cstring>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

const std::uint32_t kCommandHeadSize = sizeof(SENDCMDINPARAMS) - 1;
const std::uint32_t kReplyHeadSize = sizeof(SENDCMDOUTPARAMS) - 1;

std::uint32_t GetVersion(int fd, void* out, std::uint32_t outSize, std::uint32_t& returned) {
    if (outSize < sizeof(GETVERSIONINPARAMS)) return kErrorInsufficientBuffer;
    AtaRegisters identify;
    identify.count = 1;
    identify.device = kSmartDriveHead;
    identify.command = kIdCmd;
    std::uint8_t id[kSmartPageSize];
    const std::uint32_t error =
        AtaPassThrough16(fd, identify, DataDirection::kIn, id, sizeof id, nullptr);
    if (error) return error;
    // Word 82 bit 0: SMART feature set supported; words 82-83 are valid when word 83 says 01b.
    const unsigned word82 = id[164] | id[165] << 8, word83 = id[166] | id[167] << 8;
    const bool smart = (word83 & 0xC000) == 0x4000 && (word82 & 1) != 0;
    GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof version);
    version.bVersion = 1;
    version.bRevision = 1;
    version.bIDEDeviceMap = 1;
    version.fCapabilities = kCapAtaIdCmd | (smart ? kCapSmartCmd : 0);
    std::memcpy(out, &version, sizeof version);
    returned = sizeof version;
    return 0;
}

std::uint32_t DriveCommand(int fd, bool receive, const void* in, std::uint32_t inSize, void* out,
                           std::uint32_t outSize, std::uint32_t& returned) {
    if (!in || inSize < kCommandHeadSize) return kErrorInvalidParameter;
    if (!out || outSize < kReplyHeadSize) return kErrorInsufficientBuffer;
    SENDCMDINPARAMS command;
    std::memcpy(&command, in, kCommandHeadSize);
    const IDEREGS& regs = command.irDriveRegs;
    const std::uint32_t length = command.cBufferSize;
    const bool known = regs.bCommandReg == kSmartCmd || (receive && regs.bCommandReg == kIdCmd);
    // Data comes back only with SMART_RCV_DRIVE_DATA, in whole sectors; no data goes out.
    const bool sized = receive ? length != 0 && length % kSmartPageSize == 0 : length == 0;
    if (!known || !sized) return kErrorInvalidParameter;
    if (outSize - kReplyHeadSize < length) return kErrorInsufficientBuffer;

    AtaRegisters ata;
    ata.features = regs.bFeaturesReg;
    ata.count = regs.bSectorCountReg;
    ata.lbaLow = regs.bSectorNumberReg;
    ata.lbaMid = regs.bCylLowReg;
    ata.lbaHigh = regs.bCylHighReg;
    ata.device = regs.bDriveHeadReg;
    ata.command = regs.bCommandReg;
    std::vector<std::uint8_t> data(length);
    AtaRegisters result;
    const std::uint32_t error = AtaPassThrough16(
        fd, ata, receive ? DataDirection::kIn : DataDirection::kNone, data.data(), length, &result);

    SENDCMDOUTPARAMS reply;
    std::memset(&reply, 0, sizeof reply);
    if (error && (result.command & 0x01) != 0) {  // the drive's own error register
        reply.DriverStatus.bDriverError = kSmartIdeError;
        reply.DriverStatus.bIDEError = result.features;
    }
    reply.cBufferSize = error ? 0 : length;
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memcpy(bytes, &reply, kReplyHeadSize);
    if (!error && length) std::memcpy(bytes + kReplyHeadSize, data.data(), length);
    returned = kReplyHeadSize + reply.cBufferSize;
    return error;
}

}  // namespace

std::uint32_t SmartControl(int fd, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize, std::uint32_t& returned) {
    returned = 0;
    switch (code) {
        case kSmartGetVersion:
            return out ? GetVersion(fd, out, outSize, returned) : kErrorInsufficientBuffer;
        case kSmartSendDriveCommand:
            return DriveCommand(fd, false, in, inSize, out, outSize, returned);
        case kSmartRcvDriveData:
            return DriveCommand(fd, true, in, inSize, out, outSize, returned);
        default:
            return kErrorNotSupported;
    }
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
