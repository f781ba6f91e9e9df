#include "tests/fakes/SimDevice.h"

#include "base/platform/Platform.h"

#include <algorithm>
#include <cstring>

namespace Ovra {
namespace fakes {

namespace {
const std::uint32_t kErrorMoreData = 234;
const std::uint8_t kNoise = 0xC2;
const std::size_t kDescriptorHeader = 40;
}  // namespace

std::uint32_t SimDevice::SelectorOf(std::uint32_t code, const Bytes& input) {
    if ((code == kSmartSendDriveCommand || code == kSmartRcvDriveData) && input.size() > 10)
        return AtaSelector(input[4], input[10]);  // IDEREGS: features at 4, command at 10
    if (code == kStorageQueryProperty && input.size() >= 4) {
        std::uint32_t propertyId = 0;
        std::memcpy(&propertyId, input.data(), 4);
        if ((propertyId == 49 || propertyId == 50) && input.size() >= 20) {
            std::uint32_t dataType = 0, value = 0;  // STORAGE_PROTOCOL_SPECIFIC_DATA at 8
            std::memcpy(&dataType, input.data() + 12, 4);
            std::memcpy(&value, input.data() + 16, 4);
            return NvmeSelector(propertyId, dataType, value);
        }
        return propertyId;
    }
    return 0;
}

SimDevice& SimDevice::Answer(std::uint32_t code, std::uint32_t selector, Bytes reply) {
    m_replies[{code, selector}] = std::move(reply);
    return *this;
}

int SimDevice::Control(std::uint32_t code, const Bytes& input, void* out, std::uint32_t outSize,
                       std::uint32_t* returned, std::uint32_t* error) const {
    *returned = 0;
    auto it = m_replies.find({code, SelectorOf(code, input)});
    if (it == m_replies.end()) return (*error = platform::kErrorNotSupported), 0;
    const std::size_t n = std::min<std::size_t>(outSize, it->second.size());
    if (n) std::memcpy(out, it->second.data(), n);
    *returned = static_cast<std::uint32_t>(n);
    if (n < it->second.size()) return (*error = kErrorMoreData), 0;
    return 1;
}

void Put(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes.at(at + i) = (value >> (8 * i)) & 0xFF;
}

Bytes SmartPage(const std::vector<Bytes>& entries) {
    Bytes page(512, kNoise);
    for (std::size_t i = 0; i < 30; ++i) {
        const Bytes entry = i < entries.size() ? entries[i] : Bytes{0};
        std::copy(entry.begin(), entry.end(), page.begin() + 2 + 12 * i);
    }
    return page;
}

SimDevice SmartDisk(const Bytes& attributePage, const Bytes& thresholdPage,
                    std::uint32_t capabilities) {
    Bytes version(24, 0);
    Put(version, 0, 0x01000101, 4);  // version, revision, reserved, device map
    Put(version, 4, capabilities, 4);
    const auto withHead = [](const Bytes& page) {
        Bytes reply(16, 0);
        Put(reply, 0, 512, 4);
        reply.insert(reply.end(), page.begin(), page.end());
        return reply;
    };
    SimDevice disk;
    disk.Answer(kSmartGetVersion, version)
        .Answer(kSmartSendDriveCommand, AtaSelector(0xD8, 0xB0), Bytes(16, 0))
        .Answer(kSmartRcvDriveData, AtaSelector(0xD0, 0xB0), withHead(attributePage))
        .Answer(kSmartRcvDriveData, AtaSelector(0xD1, 0xB0), withHead(thresholdPage));
    return disk;
}

Bytes Descriptor(const std::string& vendor, const std::string& product, const std::string& serial,
                 bool removable) {
    Bytes bytes(551, 0);
    Put(bytes, 0, kDescriptorHeader, 4);  // Version
    Put(bytes, 4, kDescriptorHeader, 4);  // Size
    bytes[10] = removable ? 1 : 0;
    std::size_t next = kDescriptorHeader;
    const std::pair<std::size_t, const std::string*> fields[] = {
        {12, &vendor}, {16, &product}, {24, &serial}};
    for (const auto& field : fields) {
        if (field.second->empty()) continue;
        Put(bytes, field.first, next, 4);
        std::copy(field.second->begin(), field.second->end(), bytes.begin() + next);
        next += field.second->size() + 1;
    }
    return bytes;
}

Bytes Geometry(std::uint64_t cylinders, std::uint32_t tracksPerCylinder,
               std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector) {
    Bytes bytes(24, 0);
    Put(bytes, 0, cylinders, 8);
    Put(bytes, 8, 12, 4);  // FixedMedia
    Put(bytes, 12, tracksPerCylinder, 4);
    Put(bytes, 16, sectorsPerTrack, 4);
    Put(bytes, 20, bytesPerSector, 4);
    return bytes;
}

SimDevice Disk(const Bytes& descriptor, const Bytes& geometry) {
    SimDevice disk;
    disk.Answer(kStorageQueryProperty, 0, descriptor).Answer(kDiskGetDriveGeometry, geometry);
    return disk;
}

SimDevice VolumeDevice(const std::vector<std::uint32_t>& disks) {
    Bytes bytes(8 + 24 * disks.size(), 0);
    Put(bytes, 0, disks.size(), 4);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        Put(bytes, 8 + 24 * i, disks[i], 4);
        Put(bytes, 8 + 24 * i + 16, 1ull << 30, 8);  // extent length
    }
    SimDevice device;
    device.Answer(kVolumeGetDiskExtents, bytes);
    return device;
}

}  // namespace fakes
}  // namespace Ovra
