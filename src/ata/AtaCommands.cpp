#include "src/ata/AtaCommands.h"

#include <cstring>

namespace Ovra {
namespace ata {

namespace {

using platform::IDEREGS;
using platform::SENDCMDINPARAMS;
using platform::SENDCMDOUTPARAMS;

// LBA mid/high after RETURN STATUS: the drive passes (it leaves the SMART signature), or predicts
// its own failure.
const std::uint8_t kStatusFailingMid = 0xF4;
const std::uint8_t kStatusFailingHigh = 0x2C;

#pragma pack(push, 1)
// The reply to RETURN STATUS: the status head followed by the registers.
struct StatusReply {
    std::uint32_t cBufferSize;
    platform::DRIVERSTATUS DriverStatus;
    IDEREGS registers;
};
#pragma pack(pop)
static_assert(sizeof(StatusReply) == 24, "RETURN STATUS reply layout");

SENDCMDINPARAMS Command(std::uint8_t drive, std::uint8_t command, std::uint32_t bufferSize) {
    SENDCMDINPARAMS in;
    std::memset(&in, 0, sizeof in);
    in.cBufferSize = bufferSize;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bDriveHeadReg = platform::kSmartDriveHead;
    in.irDriveRegs.bCommandReg = command;
    in.bDriveNumber = drive;
    return in;
}

SENDCMDINPARAMS SmartCommand(std::uint8_t drive, std::uint8_t features, std::uint32_t bufferSize,
                             std::uint8_t lbaLow = 1) {
    SENDCMDINPARAMS in = Command(drive, platform::kSmartCmd, bufferSize);
    in.irDriveRegs.bFeaturesReg = features;
    in.irDriveRegs.bSectorNumberReg = lbaLow;
    in.irDriveRegs.bCylLowReg = platform::kSmartCylLow;
    in.irDriveRegs.bCylHighReg = platform::kSmartCylHi;
    return in;
}

bool Send(DiskDevice& disk, const SENDCMDINPARAMS& in, void* out, std::uint32_t outSize) {
    std::memset(out, 0, outSize);
    return disk.Control(platform::kSmartSendDriveCommand, &in, sizeof in, out, outSize);
}

bool Receive(DiskDevice& disk, const SENDCMDINPARAMS& in, DataReply& reply) {
    std::memset(&reply, 0, sizeof reply);
    return disk.Control(platform::kSmartRcvDriveData, &in, sizeof in, &reply, sizeof reply);
}

}  // namespace

bool TakesSmartCommands(DiskDevice& disk) {
    platform::GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof version);
    return disk.Control(platform::kSmartGetVersion, nullptr, 0, &version, sizeof version) &&
           (version.fCapabilities & platform::kCapSmartCmd) != 0;
}

bool SendSmart(DiskDevice& disk, std::uint8_t features, std::uint8_t lbaLow) {
    SENDCMDOUTPARAMS status;
    return Send(disk, SmartCommand(disk.DriveNumber(), features, 0, lbaLow), &status,
                sizeof status);
}

bool ReadSmartPage(DiskDevice& disk, std::uint8_t features, DataReply& reply, std::uint8_t lbaLow) {
    return Receive(disk, SmartCommand(disk.DriveNumber(), features, kPageSize, lbaLow), reply);
}

bool IdentifyDevice(DiskDevice& disk, DataReply& reply) {
    return Receive(disk, Command(disk.DriveNumber(), platform::kIdCmd, kPageSize), reply);
}

bool ReturnStatus(DiskDevice& disk, DiskHealth::Assessment& assessment) {
    StatusReply reply;
    if (!Send(disk, SmartCommand(disk.DriveNumber(), platform::kSmartReturnStatus, 0), &reply,
              sizeof reply))
        return false;
    const IDEREGS& r = reply.registers;
    assessment = r.bCylLowReg == platform::kSmartCylLow && r.bCylHighReg == platform::kSmartCylHi
                     ? DiskHealth::Passed
                 : r.bCylLowReg == kStatusFailingMid && r.bCylHighReg == kStatusFailingHigh
                     ? DiskHealth::Failed
                     : DiskHealth::NotAssessed;
    return true;
}

}  // namespace ata
}  // namespace Ovra
