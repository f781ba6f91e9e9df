// Any bytes as a storage device descriptor: offsets the device reports are never trusted, so the
// strings come from inside the buffer (libFuzzer hands over an exact-size copy, so AddressSanitizer
// sees any read past it) or are empty.
#include "src/storage/DeviceDescriptor.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Ovra::storage::DeviceIdentity identity = Ovra::storage::ParseDeviceDescriptor(data, size);
    for (const std::string* text :
         {&identity.vendorId, &identity.productId, &identity.serialNumber})
        if ((!text->empty() && text->size() >= size) || text->find('\0') != std::string::npos)
            std::abort();
    return 0;
}
