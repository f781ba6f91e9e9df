#pragma once

// The Windows disk requests for SMART and their records, declared here with the Windows layout
// (byte-packed) so that the same code builds where the Windows headers are absent.

#include <array>
#include <cstdint>

namespace Ovra {
namespace smart {

const std::uint32_t kSmartGetVersion = 0x00074080;
const std::uint32_t kSmartSendDriveCommand = 0x0007C084;
const std::uint32_t kSmartRcvDriveData = 0x0007C088;

const std::uint32_t kCapSmartCmd = 0x04;  // fCapabilities: the driver passes SMART commands

// IDE register values of a SMART command.
const std::uint8_t kEnableSmart = 0xD8;
const std::uint8_t kReadAttributes = 0xD0;
const std::uint8_t kReadThresholds = 0xD1;
const std::uint8_t kSmartCylLow = 0x4F;
const std::uint8_t kSmartCylHi = 0xC2;
const std::uint8_t kSmartDriveHead = 0xA0;
const std::uint8_t kSmartCmd = 0xB0;

const std::uint32_t kSmartPageSize = 512;
using SmartPage = std::array<std::uint8_t, kSmartPageSize>;

#pragma pack(push, 1)
struct GETVERSIONINPARAMS {
    std::uint8_t bVersion;
    std::uint8_t bRevision;
    std::uint8_t bReserved;
    std::uint8_t bIDEDeviceMap;
    std::uint32_t fCapabilities;
    std::uint32_t dwReserved[4];
};

struct IDEREGS {
    std::uint8_t bFeaturesReg;
    std::uint8_t bSectorCountReg;
    std::uint8_t bSectorNumberReg;
    std::uint8_t bCylLowReg;
    std::uint8_t bCylHighReg;
    std::uint8_t bDriveHeadReg;
    std::uint8_t bCommandReg;
    std::uint8_t bReserved;
};

struct SENDCMDINPARAMS {
    std::uint32_t cBufferSize;
    IDEREGS irDriveRegs;
    std::uint8_t bDriveNumber;
    std::uint8_t bReserved[3];
    std::uint32_t dwReserved[4];
    std::uint8_t bBuffer[1];
};

struct DRIVERSTATUS {
    std::uint8_t bDriverError;
    std::uint8_t bIDEError;
    std::uint8_t bReserved[2];
    std::uint32_t dwReserved[2];
};

struct SENDCMDOUTPARAMS {
    std::uint32_t cBufferSize;
    DRIVERSTATUS DriverStatus;
    std::uint8_t bBuffer[1];
};

// The reply to SMART_RCV_DRIVE_DATA: the head of SENDCMDOUTPARAMS followed by one data page.
struct SmartDataReply {
    std::uint32_t cBufferSize;
    DRIVERSTATUS DriverStatus;
    SmartPage bBuffer;
};
#pragma pack(pop)

static_assert(sizeof(GETVERSIONINPARAMS) == 24, "GETVERSIONINPARAMS layout");
static_assert(sizeof(IDEREGS) == 8, "IDEREGS layout");
static_assert(sizeof(SENDCMDINPARAMS) == 33, "SENDCMDINPARAMS layout");
static_assert(sizeof(DRIVERSTATUS) == 12, "DRIVERSTATUS layout");
static_assert(sizeof(SENDCMDOUTPARAMS) == 17, "SENDCMDOUTPARAMS layout");
static_assert(sizeof(SmartDataReply) == 528, "SMART data reply layout");

}  // namespace smart
}  // namespace Ovra
