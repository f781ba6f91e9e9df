#pragma once

// What sysfs tells about block devices: the whole disk a partition belongs to, its number in the
// physical inventory (DiskList.h) and the drive type of a device.

#include <sys/types.h>

#include <cstdint>

#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

// The kernel name of `device` (sda1, loop0); empty when sysfs does not know it.
std::string DeviceName(dev_t device);

// The kernel name of the whole disk that holds `device` (the device itself for a whole disk);
// empty when sysfs does not know it.
std::string WholeDiskOf(dev_t device);

// The inventory number of the disk that holds `device`; -1 when it is not listed.
int DiskNumberOf(dev_t device);

// The Windows drive type of a volume on `device`: 5 optical, 6 RAM disk, 2 removable, 3 fixed.
std::uint32_t DriveTypeOf(dev_t device);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
