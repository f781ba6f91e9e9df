#include "src/storage/DeviceDescriptor.h"

#include "src/storage/StorageRecords.h"

#include <cstring>

namespace Ovra {
namespace storage {

namespace {

std::uint32_t ReadU32(const std::uint8_t* buffer, std::size_t size, std::size_t at) {
    std::uint32_t value = 0;
    if (buffer && at + sizeof value <= size) std::memcpy(&value, buffer + at, sizeof value);
    return value;
}

}  // namespace

std::string DescriptorString(const std::uint8_t* buffer, std::size_t size, std::uint32_t offset) {
    if (!buffer || offset == 0 || offset >= size) return std::string();
    const auto* begin = reinterpret_cast<const char*>(buffer) + offset;
    const void* end = std::memchr(begin, 0, size - offset);
    if (!end) return std::string();  // unterminated: do not guess where it stops
    return std::string(begin, static_cast<const char*>(end));
}

DeviceIdentity ParseDeviceDescriptor(const std::uint8_t* buffer, std::size_t size) {
    DeviceIdentity identity;
    const std::size_t removableAt = offsetof(StorageDeviceDescriptor, removableMedia);
    identity.removable = buffer && removableAt < size && buffer[removableAt] != 0;
    identity.vendorId = DescriptorString(
        buffer, size, ReadU32(buffer, size, offsetof(StorageDeviceDescriptor, vendorIdOffset)));
    identity.productId = DescriptorString(
        buffer, size, ReadU32(buffer, size, offsetof(StorageDeviceDescriptor, productIdOffset)));
    identity.serialNumber = DescriptorString(
        buffer, size, ReadU32(buffer, size, offsetof(StorageDeviceDescriptor, serialNumberOffset)));
    return identity;
}

}  // namespace storage
}  // namespace Ovra
