#include <Ovra/ResultCodes.h>
#include "src/health/AtaPages.h"
#include "src/health/HealthIoctl.h"
#include "src/health/HealthReaders.h"

#include <cstring>

namespace Ovra {
namespace health {

namespace {

SENDCMDINPARAMS AtaCommand(long long disk, std::uint8_t command, std::uint8_t features,
                           std::uint32_t bufferSize) {
    SENDCMDINPARAMS in;
    std::memset(&in, 0, sizeof in);
    in.cBufferSize = bufferSize;
    in.irDriveRegs.bFeaturesReg = features;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    if (command == smart::kSmartCmd) {
        in.irDriveRegs.bCylLowReg = smart::kSmartCylLow;
        in.irDriveRegs.bCylHighReg = smart::kSmartCylHi;
    }
    in.irDriveRegs.bDriveHeadReg = smart::kSmartDriveHead;
    in.irDriveRegs.bCommandReg = command;
    in.bDriveNumber = static_cast<std::uint8_t>(disk & 0xFF);
    return in;
}

int Failed(DiskHealth& health, int code, const wchar_t* reason) {
    health.reasons.push_back(reason);
    return code;
}

// One 512-byte page through SMART_RCV_DRIVE_DATA.
bool ReadPage(platform::DeviceHandle& device, const SENDCMDINPARAMS& in,
              smart::SmartDataReply& reply) {
    std::memset(&reply, 0, sizeof reply);
    return device.Control(smart::kSmartRcvDriveData, &in, sizeof in, &reply, sizeof reply);
}

}  // namespace

int ReadAtaHealth(platform::DeviceHandle& device, long long disk, DiskHealth& health) {
    smart::GETVERSIONINPARAMS version;
    std::memset(&version, 0, sizeof version);
    if (!device.Control(smart::kSmartGetVersion, nullptr, 0, &version, sizeof version) ||
        (version.fCapabilities & smart::kCapSmartCmd) == 0) {
        return result::kNoSmart;
    }
    health.kind = DiskHealth::Ata;

    smart::SmartDataReply identify;
    if (!ReadPage(device, AtaCommand(disk, kAtaIdentifyDevice, 0, kAtaPageSize), identify))
        return Failed(health, result::kSystemFailed, L"IDENTIFY DEVICE failed");
    if (!IdentifyChecksumOk(identify.bBuffer.data()))
        return Failed(health, result::kBadChecksum, L"IDENTIFY DEVICE data failed its checksum");
    ReadAtaIdentity(identify.bBuffer.data(), health);

    const SENDCMDINPARAMS status = AtaCommand(disk, smart::kSmartCmd, kSmartReturnStatus, 0);
    SmartStatusReply registers;
    std::memset(&registers, 0, sizeof registers);
    if (!device.Control(smart::kSmartSendDriveCommand, &status, sizeof status, &registers,
                        sizeof registers)) {
        return Failed(health, result::kSystemFailed, L"SMART RETURN STATUS failed");
    }
    health.selfAssessment =
        AssessmentFromRegisters(registers.registers.bCylLowReg, registers.registers.bCylHighReg);

    smart::SmartDataReply data;
    smart::SmartDataReply thresholds;
    if (!ReadPage(device, AtaCommand(disk, smart::kSmartCmd, smart::kReadAttributes, kAtaPageSize),
                  data))
        return Failed(health, result::kSystemFailed, L"SMART READ DATA failed");
    if (!PageChecksumOk(data.bBuffer.data()))
        return Failed(health, result::kBadChecksum,
                      L"the SMART attribute page failed its checksum");
    if (!ReadPage(device, AtaCommand(disk, smart::kSmartCmd, smart::kReadThresholds, kAtaPageSize),
                  thresholds))
        return Failed(health, result::kSystemFailed, L"SMART READ THRESHOLDS failed");
    if (!PageChecksumOk(thresholds.bBuffer.data()))
        return Failed(health, result::kBadChecksum,
                      L"the SMART threshold page failed its checksum");
    health.attributes = ReadAtaAttributes(data.bBuffer.data(), thresholds.bBuffer.data());
    return result::kOk;
}

}  // namespace health
}  // namespace Ovra
