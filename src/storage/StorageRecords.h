#pragma once

// The Windows device-control records and constants the storage inventories exchange with disk and
// volume devices, defined here with their Windows layouts so that the same code builds everywhere.

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace storage {

const std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;
const std::uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
const std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;

const std::uint32_t kDriveRemovable = 2;
const std::uint32_t kDriveFixed = 3;

// The descriptor is read into a buffer of this size; its string offsets point into it.
const std::size_t kDeviceDescriptorBufferSize = 551;

// STORAGE_PROPERTY_QUERY
struct StoragePropertyQuery {
    std::uint32_t propertyId;  // StorageDeviceProperty = 0
    std::uint32_t queryType;   // PropertyStandardQuery = 0
    std::uint8_t additionalParameters[1];
};
static_assert(sizeof(StoragePropertyQuery) == 12, "STORAGE_PROPERTY_QUERY is 12 bytes");

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
static_assert(offsetof(StorageDeviceDescriptor, size) == 4, "descriptor layout");
static_assert(offsetof(StorageDeviceDescriptor, removableMedia) == 10, "descriptor layout");
static_assert(offsetof(StorageDeviceDescriptor, vendorIdOffset) == 12, "descriptor layout");
static_assert(offsetof(StorageDeviceDescriptor, productIdOffset) == 16, "descriptor layout");
static_assert(offsetof(StorageDeviceDescriptor, serialNumberOffset) == 24, "descriptor layout");
static_assert(sizeof(StorageDeviceDescriptor) == 40, "STORAGE_DEVICE_DESCRIPTOR is 40 bytes");

// DISK_GEOMETRY
struct DiskGeometry {
    std::int64_t cylinders;
    std::int32_t mediaType;
    std::uint32_t tracksPerCylinder;
    std::uint32_t sectorsPerTrack;
    std::uint32_t bytesPerSector;
};
static_assert(offsetof(DiskGeometry, tracksPerCylinder) == 12, "geometry layout");
static_assert(sizeof(DiskGeometry) == 24, "DISK_GEOMETRY is 24 bytes");

// DISK_EXTENT and VOLUME_DISK_EXTENTS with room for one extent
struct DiskExtent {
    std::uint32_t diskNumber;
    std::int64_t startingOffset;
    std::int64_t extentLength;
};
static_assert(offsetof(DiskExtent, startingOffset) == 8, "extent layout");
static_assert(sizeof(DiskExtent) == 24, "DISK_EXTENT is 24 bytes");

struct VolumeDiskExtents {
    std::uint32_t numberOfDiskExtents;
    DiskExtent extents[1];
};
static_assert(offsetof(VolumeDiskExtents, extents) == 8, "extents layout");
static_assert(sizeof(VolumeDiskExtents) == 32, "VOLUME_DISK_EXTENTS with one extent is 32 bytes");

}  // namespace storage
}  // namespace Ovra
