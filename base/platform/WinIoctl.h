#pragma once

// The Windows disk requests that backends other than Win32 answer, with their records in the
// Windows layout (byte-packed where Windows packs them), so that a backend can fill them exactly
// as the Windows drivers do.

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace platform {

// Windows error codes of device requests, beside those in Platform.h.
const std::uint32_t kErrorInsufficientBuffer = 122;
const std::uint32_t kErrorIoDevice = 1117;

const std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;
const std::uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
const std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
const std::uint32_t kSmartGetVersion = 0x00074080;
const std::uint32_t kSmartSendDriveCommand = 0x0007C084;
const std::uint32_t kSmartRcvDriveData = 0x0007C088;

// GETVERSIONINPARAMS.fCapabilities
const std::uint32_t kCapAtaIdCmd = 0x01;
const std::uint32_t kCapSmartCmd = 0x04;

// ATA commands and SMART features that the SMART requests carry.
const std::uint8_t kSmartCmd = 0xB0;
const std::uint8_t kIdCmd = 0xEC;
const std::uint8_t kEnableSmart = 0xD8;
const std::uint8_t kReadAttributes = 0xD0;
const std::uint8_t kReadThresholds = 0xD1;
const std::uint8_t kExecuteOfflineImmediate = 0xD4;
const std::uint8_t kReadLog = 0xD5;
const std::uint8_t kSmartCylLow = 0x4F;
const std::uint8_t kSmartCylHi = 0xC2;
// The device register of every SMART and IDENTIFY command: the master drive, LBA addressing.
const std::uint8_t kSmartDriveHead = 0xA0;

const std::uint32_t kSmartPageSize = 512;

// STORAGE_BUS_TYPE values that the backends report.
const std::int32_t kBusTypeUnknown = 0;
const std::int32_t kBusTypeScsi = 1;
const std::int32_t kBusTypeUsb = 7;
const std::int32_t kBusTypeSata = 11;
const std::int32_t kBusTypeVirtual = 14;
const std::int32_t kBusTypeFileBackedVirtual = 15;
const std::int32_t kBusTypeNvme = 17;

// MEDIA_TYPE of DISK_GEOMETRY.
const std::int32_t kRemovableMedia = 11;
const std::int32_t kFixedMedia = 12;

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
#pragma pack(pop)

// DRIVERSTATUS.bDriverError when the drive rejected the command; bIDEError holds its error
// register.
const std::uint8_t kSmartIdeError = 1;

static_assert(sizeof(GETVERSIONINPARAMS) == 24, "GETVERSIONINPARAMS layout");
static_assert(sizeof(SENDCMDINPARAMS) == 33, "SENDCMDINPARAMS layout");
static_assert(sizeof(SENDCMDOUTPARAMS) == 17, "SENDCMDOUTPARAMS layout");

// STORAGE_PROPERTY_QUERY
struct StoragePropertyQuery {
    std::uint32_t propertyId;  // StorageDeviceProperty = 0
    std::uint32_t queryType;   // PropertyStandardQuery = 0
    std::uint8_t additionalParameters[1];
};
static_assert(sizeof(StoragePropertyQuery) == 12, "STORAGE_PROPERTY_QUERY layout");

// STORAGE_DEVICE_DESCRIPTOR (header; the strings follow at the offsets it gives)
struct StorageDeviceDescriptor {
    std::uint32_t version;
    std::uint32_t size;
    std::uint8_t deviceType;
    std::uint8_t deviceTypeModifier;
    std::uint8_t removableMedia;
    std::uint8_t commandQueueing;
    std::uint32_t vendorIdOffset;
    std::uint32_t productIdOffset;
    std::uint32_t productRevisionOffset;
    std::uint32_t serialNumberOffset;
    std::int32_t busType;
    std::uint32_t rawPropertiesLength;
    std::uint8_t rawDeviceProperties[1];
};
static_assert(offsetof(StorageDeviceDescriptor, busType) == 28, "descriptor layout");
static_assert(sizeof(StorageDeviceDescriptor) == 40, "STORAGE_DEVICE_DESCRIPTOR layout");

// DISK_GEOMETRY
struct DiskGeometry {
    std::int64_t cylinders;
    std::int32_t mediaType;
    std::uint32_t tracksPerCylinder;
    std::uint32_t sectorsPerTrack;
    std::uint32_t bytesPerSector;
};
static_assert(sizeof(DiskGeometry) == 24, "DISK_GEOMETRY layout");

// DISK_EXTENT, and VOLUME_DISK_EXTENTS with room for one extent: the count, four bytes of
// padding (the extents are 8-aligned), then the extents.
struct DiskExtent {
    std::uint32_t diskNumber;
    std::int64_t startingOffset;
    std::int64_t extentLength;
};
static_assert(offsetof(DiskExtent, startingOffset) == 8, "DISK_EXTENT layout");
static_assert(offsetof(DiskExtent, extentLength) == 16, "DISK_EXTENT layout");
static_assert(sizeof(DiskExtent) == 24, "DISK_EXTENT layout");

struct VolumeDiskExtents {
    std::uint32_t numberOfDiskExtents;
    DiskExtent extents[1];
};
static_assert(offsetof(VolumeDiskExtents, extents) == 8, "VOLUME_DISK_EXTENTS layout");
static_assert(sizeof(VolumeDiskExtents) == 32, "VOLUME_DISK_EXTENTS with one extent");

// STORAGE_PROPERTY_ID values for the protocol-specific (NVMe) queries, STORAGE_PROTOCOL_TYPE and
// STORAGE_PROTOCOL_NVME_DATA_TYPE.
const std::uint32_t kStorageDeviceProperty = 0;
const std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
const std::uint32_t kStorageDeviceProtocolSpecificProperty = 50;
const std::uint32_t kProtocolTypeNvme = 3;
const std::uint32_t kNvmeDataTypeIdentify = 1;
const std::uint32_t kNvmeDataTypeLogPage = 2;
// SMART feature RETURN STATUS.
const std::uint8_t kSmartReturnStatus = 0xDA;

// STORAGE_PROTOCOL_SPECIFIC_DATA: in the query after property id and query type, in the reply
// after Version and Size (STORAGE_PROTOCOL_DATA_DESCRIPTOR); the data follows at its offset.
struct StorageProtocolSpecificData {
    std::uint32_t protocolType;
    std::uint32_t dataType;
    std::uint32_t protocolDataRequestValue;
    std::uint32_t protocolDataRequestSubValue;
    std::uint32_t protocolDataOffset;  // from the start of this record
    std::uint32_t protocolDataLength;
    std::uint32_t fixedProtocolReturnData;
    std::uint32_t protocolDataRequestSubValue2;
    std::uint32_t protocolDataRequestSubValue3;
    std::uint32_t protocolDataRequestSubValue4;
};
static_assert(sizeof(StorageProtocolSpecificData) == 40, "STORAGE_PROTOCOL_SPECIFIC_DATA layout");

// IOCTL_STORAGE_PROTOCOL_COMMAND: one NVMe admin command passed to the device's controller.
const std::uint32_t kIoctlStorageProtocolCommand = 0x002DD3C0;
const std::uint32_t kProtocolCommandVersion = 1;  // STORAGE_PROTOCOL_STRUCTURE_VERSION
const std::uint32_t kProtocolCommandFlagAdapterRequest = 0x80000000;
const std::uint32_t kProtocolSpecificNvmeAdminCommand = 1;
const std::uint32_t kProtocolStatusSuccess = 1;  // STORAGE_PROTOCOL_STATUS_SUCCESS
const std::uint32_t kNvmeCommandSize = 64;

// STORAGE_PROTOCOL_COMMAND up to Command, where the 64-byte NVMe command follows; Length holds
// sizeof the Windows record, whose one-byte Command array pads it to 84.
struct StorageProtocolCommand {
    std::uint32_t version;
    std::uint32_t length;
    std::uint32_t protocolType;
    std::uint32_t flags;
    std::uint32_t returnStatus;
    std::uint32_t errorCode;
    std::uint32_t commandLength;
    std::uint32_t errorInfoLength;
    std::uint32_t dataToDeviceTransferLength;
    std::uint32_t dataFromDeviceTransferLength;
    std::uint32_t timeOutValue;  // seconds
    std::uint32_t errorInfoOffset;
    std::uint32_t dataToDeviceBufferOffset;
    std::uint32_t dataFromDeviceBufferOffset;
    std::uint32_t commandSpecific;
    std::uint32_t reserved0;
    std::uint32_t fixedProtocolReturnData;
    std::uint32_t reserved1[3];
};
static_assert(sizeof(StorageProtocolCommand) == 80, "STORAGE_PROTOCOL_COMMAND layout");
const std::uint32_t kProtocolCommandLength = 84;

// An NVMe submission queue entry: opcode in byte 0, NSID at 4, command dwords 10-15 from 40.
struct NvmeCommand {
    std::uint8_t opcode;
    std::uint8_t flags;
    std::uint16_t commandId;
    std::uint32_t nsid;
    std::uint32_t cdw2To9[8];
    std::uint32_t cdw10;
    std::uint32_t cdw11To15[5];
};
static_assert(sizeof(NvmeCommand) == kNvmeCommandSize, "NVMe command layout");
static_assert(offsetof(NvmeCommand, cdw10) == 40, "NVMe command layout");
const std::uint8_t kNvmeAdminDeviceSelfTest = 0x14;
const std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;  // NSID of a command for every namespace

}  // namespace platform
}  // namespace Ovra
