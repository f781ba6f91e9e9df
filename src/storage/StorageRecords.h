#pragma once

// The Windows device-control records and constants the storage inventories exchange with disk and
// volume devices, defined here with their Windows layouts so that the same code builds everywhere.

#include "base/platform/WinIoctl.h"

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace storage {

using platform::kIoctlDiskGetDriveGeometry;
using platform::kIoctlStorageQueryProperty;
using platform::kIoctlVolumeGetVolumeDiskExtents;

const std::uint32_t kDriveRemovable = 2;
const std::uint32_t kDriveFixed = 3;

// The descriptor is read into a buffer of this size; its string offsets point into it.
const std::size_t kDeviceDescriptorBufferSize = 551;

using platform::DiskGeometry;
using platform::StorageDeviceDescriptor;
using platform::StoragePropertyQuery;

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
