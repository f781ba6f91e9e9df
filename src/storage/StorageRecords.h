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
using platform::VolumeDiskExtents;

}  // namespace storage
}  // namespace Ovra
