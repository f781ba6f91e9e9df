#include "base/platform/linux/DiskDescriptor.h"

#include "base/platform/WinIoctl.h"
#include "base/platform/linux/SgIo.h"
#include "base/platform/linux/SysfsFiles.h"

#include <algorithm>
#include <cstring>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

std::int32_t BusType(const std::string& name, const std::string& devicePath) {
    // USB first: a bridge's disk looks like SCSI or ATA further down the same path.
    const struct {
        const char* part;
        std::int32_t bus;
    } kByPath[] = {{"/usb", kBusTypeUsb},
                   {"/nvme", kBusTypeNvme},
                   {"/ata", kBusTypeSata},
                   {"/virtio", kBusTypeVirtual},
                   {"/virtual/block/loop", kBusTypeFileBackedVirtual},
                   {"/host", kBusTypeScsi}};
    for (const auto& entry : kByPath) {
        if (devicePath.find(entry.part) != std::string::npos) return entry.bus;
    }
    return name.compare(0, 4, "loop") == 0 ? kBusTypeFileBackedVirtual : kBusTypeUnknown;
}

std::string Field(const std::uint8_t* data, std::size_t at, std::size_t length) {
    const char* begin = reinterpret_cast<const char*>(data) + at;
    return std::string(begin, strnlen(begin, length));
}

bool StandardInquiry(int fd, DiskIdentity& identity) {
    std::uint8_t data[36];
    if (ScsiInquiry(fd, -1, data, sizeof data) != 0) return false;
    identity.vendor = Field(data, 8, 8);
    identity.product = Field(data, 16, 16);
    identity.revision = Field(data, 32, 4);
    return true;
}

// The unit serial number page (0x80).
bool InquirySerial(int fd, std::string& serial) {
    std::uint8_t data[255];
    if (ScsiInquiry(fd, 0x80, data, sizeof data) != 0 || data[1] != 0x80) return false;
    serial = Field(data, 4, std::min<std::size_t>(data[3], sizeof data - 4));
    return !serial.empty();
}

}  // namespace

DiskIdentity ReadDiskIdentity(int fd, const std::string& name) {
    DiskIdentity identity;
    const std::string block = "/sys/block/" + name;
    const std::string device = block + "/device/";
    std::string text;
    identity.removable = ReadAttribute(block + "/removable", text) && text == "1";
    identity.busType = BusType(name, LinkTarget(block));

    if (ReadAttribute(device + "model", identity.product)) {
        ReadAttribute(device + "vendor", identity.vendor);  // SCSI only: NVMe names none
        if (!ReadAttribute(device + "rev", identity.revision))
            ReadAttribute(device + "firmware_rev", identity.revision);
    } else if (!StandardInquiry(fd, identity)) {
        identity.product = name;
    }

    if (identity.busType == kBusTypeFileBackedVirtual) {
        ReadAttribute(block + "/loop/backing_file", identity.serial);
    } else if (!ReadAttribute(device + "serial", identity.serial) &&
               !ReadAttribute(block + "/serial", identity.serial) &&  // virtio
               !InquirySerial(fd, identity.serial)) {
        ReadAttribute(device + "wwid", identity.serial);
    }
    return identity;
}

std::vector<std::uint8_t> DeviceDescriptorBytes(const DiskIdentity& identity) {
    constexpr std::size_t kHeaderSize = sizeof(StorageDeviceDescriptor);
    std::string strings;  // what follows the header
    auto place = [&strings](const std::string& text) -> std::uint32_t {
        if (text.empty()) return 0;
        const auto at = static_cast<std::uint32_t>(kHeaderSize + strings.size());
        strings.append(text.c_str(), text.size() + 1);  // with its NUL
        return at;
    };
    StorageDeviceDescriptor header;
    std::memset(&header, 0, sizeof header);
    header.version = sizeof header;
    header.removableMedia = identity.removable ? 1 : 0;
    header.vendorIdOffset = place(identity.vendor);
    header.productIdOffset = place(identity.product);
    header.productRevisionOffset = place(identity.revision);
    header.serialNumberOffset = place(identity.serial);
    header.busType = identity.busType;
    header.size = static_cast<std::uint32_t>(kHeaderSize + strings.size());
    std::vector<std::uint8_t> bytes(header.size);
    std::memcpy(bytes.data(), &header, kHeaderSize);
    std::memcpy(bytes.data() + kHeaderSize, strings.data(), strings.size());
    return bytes;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
