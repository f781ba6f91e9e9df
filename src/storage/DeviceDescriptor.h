#pragma once

// Reading a storage device descriptor as the device returned it. Pure functions over a byte
// range: nothing here trusts the offsets the device reports.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Ovra {
namespace storage {

struct DeviceIdentity {
    bool removable = false;
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
};

// The NUL-terminated string at `offset` of `buffer`. Empty for offset 0, for an offset at or
// beyond `size`, and for a string that reaches the end of the buffer without a terminator.
std::string DescriptorString(const std::uint8_t* buffer, std::size_t size, std::uint32_t offset);

// The removable flag and the vendor, product and serial strings of a descriptor. Fields that lie
// beyond `size` read as zero.
DeviceIdentity ParseDeviceDescriptor(const std::uint8_t* buffer, std::size_t size);

}  // namespace storage
}  // namespace Ovra
