#pragma once

// The requests a health reading sends beyond the SMART data pages: ATA IDENTIFY DEVICE and SMART
// RETURN STATUS through the SMART requests, and the NVMe log and identify queries through the
// storage property request. Windows layouts, declared here so the code builds everywhere.

#include "src/smart/SmartIoctl.h"

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace health {

using smart::IDEREGS;
using smart::SENDCMDINPARAMS;
using smart::SENDCMDOUTPARAMS;

const std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;

// ATA commands and SMART features beyond those of the monitor.
const std::uint8_t kAtaIdentifyDevice = 0xEC;
const std::uint8_t kSmartReturnStatus = 0xDA;
// LBA mid/high after RETURN STATUS: the drive passes or predicts its own failure.
const std::uint8_t kStatusGoodMid = 0x4F;
const std::uint8_t kStatusGoodHigh = 0xC2;
const std::uint8_t kStatusFailingMid = 0xF4;
const std::uint8_t kStatusFailingHigh = 0x2C;

// STORAGE_PROPERTY_ID values and STORAGE_BUS_TYPE of NVMe.
const std::uint32_t kStorageDeviceProperty = 0;
const std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
const std::uint32_t kStorageDeviceProtocolSpecificProperty = 50;
const std::uint32_t kBusTypeNvme = 17;

// STORAGE_PROTOCOL_TYPE, STORAGE_PROTOCOL_NVME_DATA_TYPE and the NVMe values asked for.
const std::uint32_t kProtocolTypeNvme = 3;
const std::uint32_t kNvmeDataTypeIdentify = 1;
const std::uint32_t kNvmeDataTypeLogPage = 2;
const std::uint32_t kNvmeIdentifyController = 1;  // CNS 01h
const std::uint32_t kNvmeLogHealth = 2;           // SMART / Health Information
const std::uint32_t kNvmeHealthLogSize = 512;
const std::uint32_t kNvmeIdentifySize = 4096;

#pragma pack(push, 1)
// The reply to SMART RETURN STATUS: the status head followed by the registers.
struct SmartStatusReply {
    std::uint32_t cBufferSize;
    smart::DRIVERSTATUS DriverStatus;
    IDEREGS registers;
};
#pragma pack(pop)
static_assert(sizeof(SmartStatusReply) == 24, "RETURN STATUS reply layout");

// STORAGE_PROTOCOL_SPECIFIC_DATA
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

// STORAGE_PROPERTY_QUERY up to AdditionalParameters, which holds the protocol request.
struct ProtocolQuery {
    std::uint32_t propertyId;
    std::uint32_t queryType;  // PropertyStandardQuery
    StorageProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolQuery) == 48, "protocol property query layout");

// STORAGE_PROTOCOL_DATA_DESCRIPTOR; the data follows at protocol.protocolDataOffset.
struct ProtocolDataDescriptor {
    std::uint32_t version;  // sizeof(ProtocolDataDescriptor)
    std::uint32_t size;
    StorageProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolDataDescriptor) == 48, "STORAGE_PROTOCOL_DATA_DESCRIPTOR layout");
const std::size_t kProtocolDataStart = offsetof(ProtocolDataDescriptor, protocol);

// The head of STORAGE_DEVICE_DESCRIPTOR, up to the bus type.
struct DeviceDescriptorHead {
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
    std::uint32_t busType;
};
static_assert(offsetof(DeviceDescriptorHead, busType) == 28, "STORAGE_DEVICE_DESCRIPTOR layout");

}  // namespace health
}  // namespace Ovra
