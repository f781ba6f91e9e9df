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

using platform::kIoctlStorageQueryProperty;

// ATA commands and SMART features beyond those of the monitor.
const std::uint8_t kAtaIdentifyDevice = platform::kIdCmd;
using platform::kSmartReturnStatus;
// LBA mid/high after RETURN STATUS: the drive passes or predicts its own failure.
const std::uint8_t kStatusGoodMid = 0x4F;
const std::uint8_t kStatusGoodHigh = 0xC2;
const std::uint8_t kStatusFailingMid = 0xF4;
const std::uint8_t kStatusFailingHigh = 0x2C;

// STORAGE_PROPERTY_ID values and STORAGE_BUS_TYPE of NVMe.
using platform::kStorageAdapterProtocolSpecificProperty;
using platform::kStorageDeviceProperty;
using platform::kStorageDeviceProtocolSpecificProperty;
const std::uint32_t kBusTypeNvme = platform::kBusTypeNvme;

// STORAGE_PROTOCOL_TYPE, STORAGE_PROTOCOL_NVME_DATA_TYPE and the NVMe values asked for.
using platform::kNvmeDataTypeIdentify;
using platform::kNvmeDataTypeLogPage;
using platform::kProtocolTypeNvme;
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

using platform::StorageProtocolSpecificData;

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

}  // namespace health
}  // namespace Ovra
