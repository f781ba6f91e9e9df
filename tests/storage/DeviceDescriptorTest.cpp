#include "src/storage/DeviceDescriptor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace Ovra {
namespace storage {
namespace {

std::vector<std::uint8_t> Descriptor(std::size_t size, std::uint32_t vendorOffset) {
    std::vector<std::uint8_t> bytes(size, 0);
    if (size >= 16) std::memcpy(&bytes[12], &vendorOffset, 4);
    return bytes;
}

TEST(DeviceDescriptor, NeverReadsBeyondTheGivenSize) {
    EXPECT_EQ(DescriptorString(nullptr, 100, 4), "");
    // A header cut short: the offset fields are not there, so nothing is read.
    auto shortHeader = Descriptor(14, 0);
    shortHeader[12] = 13;
    shortHeader[13] = 0;
    const DeviceIdentity partial = ParseDeviceDescriptor(shortHeader.data(), shortHeader.size());
    EXPECT_EQ(partial.vendorId, "");
    EXPECT_FALSE(partial.removable);
    EXPECT_FALSE(ParseDeviceDescriptor(shortHeader.data(), 10).removable);

    auto bytes = Descriptor(64, 60);
    std::memcpy(&bytes[60], "ABCD", 4);  // fills the buffer, no terminator
    EXPECT_EQ(ParseDeviceDescriptor(bytes.data(), bytes.size()).vendorId, "");
    bytes[63] = 0;
    EXPECT_EQ(ParseDeviceDescriptor(bytes.data(), bytes.size()).vendorId, "ABC");
    EXPECT_EQ(DescriptorString(bytes.data(), bytes.size(), 64), "");  // at the end
    EXPECT_EQ(DescriptorString(bytes.data(), bytes.size(), 0), "");   // "no string"
}

}  // namespace
}  // namespace storage
}  // namespace Ovra
