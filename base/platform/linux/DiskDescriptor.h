#pragma once

// What a Linux disk says about itself, in the STORAGE_DEVICE_DESCRIPTOR that Windows returns
// for IOCTL_STORAGE_QUERY_PROPERTY.

#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

struct DiskIdentity {
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
    bool removable = false;
    std::int32_t busType = 0;
};

// Reads the identity of disk `name` (a /sys/block name) from sysfs, and from SCSI INQUIRY on
// `fd` where sysfs has no model or serial. Strings keep the device's padding. A disk that names
// no product gets its kernel name as product; a loop device its backing file as serial.
// Bus types: USB 7, NVMe 17, SATA 11 (libata), virtio 14 (virtual), loop 15 (file-backed
// virtual), other SCSI 1, anything else 0 (unknown).
DiskIdentity ReadDiskIdentity(int fd, const std::string& name);

// The descriptor as Windows lays it out: the 40-byte header, then each nonempty string with
// its terminator at the offset the header gives (0 for an empty one).
std::vector<std::uint8_t> DeviceDescriptorBytes(const DiskIdentity& identity);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
