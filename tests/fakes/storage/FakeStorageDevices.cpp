#include "tests/fakes/storage/FakeStorageDevices.h"

#include <algorithm>
#include <cstring>

namespace Ovra {
namespace fakes {

namespace {
const std::uint32_t kErrorGenFailure = 31;
const std::uint32_t kErrorMoreData = 234;
const std::uint32_t kHeaderSize = 40;

template <typename T>
void Put(std::uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}
}  // namespace

FakeDisk::FakeDisk() : m_descriptor(kDescriptorSize, 0) {
    Put(&m_descriptor[0], kHeaderSize);  // Version
    Put(&m_descriptor[4], kHeaderSize);  // Size
    SetGeometry(1000, 255, 63, 512);
}

FakeDisk& FakeDisk::SetIdentity(const std::string& vendor, const std::string& product,
                                const std::string& serial) {
    std::uint32_t next = kHeaderSize;
    const std::pair<StringField, const std::string*> fields[] = {
        {kVendor, &vendor}, {kProduct, &product}, {kSerial, &serial}};
    for (const auto& field : fields) {
        if (field.second->empty()) {
            SetOffset(field.first, 0);
            continue;
        }
        PlaceRaw(field.first, next, *field.second + '\0');
        next += static_cast<std::uint32_t>(field.second->size() + 1);
    }
    return *this;
}

FakeDisk& FakeDisk::PlaceRaw(StringField field, std::uint32_t offset, const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size() && offset + i < kDescriptorSize; ++i)
        m_descriptor[offset + i] = static_cast<std::uint8_t>(bytes[i]);
    return SetOffset(field, offset);
}

FakeDisk& FakeDisk::SetOffset(StringField field, std::uint32_t offset) {
    Put(&m_descriptor[field], offset);
    return *this;
}

FakeDisk& FakeDisk::SetRemovable(bool removable) {
    m_descriptor[10] = removable ? 1 : 0;
    return *this;
}

FakeDisk& FakeDisk::SetGeometry(long long cylinders, std::uint32_t tracksPerCylinder,
                                std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector) {
    Put(m_geometry, cylinders);
    const std::uint32_t rest[] = {12 /* FixedMedia */, tracksPerCylinder, sectorsPerTrack,
                                  bytesPerSector};
    std::memcpy(m_geometry + 8, rest, sizeof rest);
    return *this;
}

int FakeDisk::Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                      std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) {
    *error = kErrorGenFailure;
    if (code == 0x002D1400) {  // IOCTL_STORAGE_QUERY_PROPERTY
        // Only the standard query of the device property (both ids 0) is answered.
        const std::uint8_t standardQuery[8] = {};
        if (refuseDescriptor || inSize != 12 || std::memcmp(in, standardQuery, 8) != 0) return 0;
        const std::size_t n = std::min<std::size_t>(outSize, m_descriptor.size());
        std::memcpy(out, m_descriptor.data(), n);
        *bytesReturned = static_cast<std::uint32_t>(n);
        return 1;
    }
    if (code != 0x00070000 || refuseGeometry || outSize < sizeof m_geometry) return 0;
    std::memcpy(out, m_geometry, sizeof m_geometry);  // IOCTL_DISK_GET_DRIVE_GEOMETRY
    *bytesReturned = sizeof m_geometry;
    return 1;
}

int FakeVolumeDevice::Control(std::uint32_t code, const void*, std::uint32_t, void* out,
                              std::uint32_t outSize, std::uint32_t* bytesReturned,
                              std::uint32_t* error) {
    *error = kErrorGenFailure;
    if (code != 0x00560000 || outSize < 8) return 0;  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
    auto* bytes = static_cast<std::uint8_t*>(out);
    Put(bytes, static_cast<std::uint32_t>(m_disks.size()));
    const std::size_t needed = 8 + 24 * m_disks.size();
    if (outSize < needed) {  // as Windows: the count is there, the extents are not
        *bytesReturned = 8;
        *error = kErrorMoreData;
        return 0;
    }
    for (std::size_t i = 0; i < m_disks.size(); ++i) {
        std::uint8_t* extent = bytes + 8 + 24 * i;
        std::memset(extent, 0, 24);
        Put(extent, m_disks[i]);
        Put(extent + 16, 1LL << 30);  // extent length
    }
    *bytesReturned = static_cast<std::uint32_t>(needed);
    return 1;
}

std::shared_ptr<FakeDisk> AddDisk(FakePlatform& fake, std::size_t number) {
    auto disk = std::make_shared<FakeDisk>();
    fake.AddDevice(PhysicalDrivePath(number), disk);
    return disk;
}

std::shared_ptr<FakeVolumeDevice> AddVolumeDevice(FakePlatform& fake, wchar_t letter,
                                                  std::vector<std::uint32_t> disks) {
    auto device = std::make_shared<FakeVolumeDevice>(std::move(disks));
    fake.AddDevice(std::wstring(L"\\\\.\\") + letter + L":", device);
    return device;
}

FakeVolume MakeVolume(const std::wstring& label, const std::wstring& fileSystem,
                      std::uint32_t serial, std::uint64_t totalBytes,
                      std::uint64_t freeBytesAvailable, std::uint32_t driveType) {
    FakeVolume volume;
    volume.label = label;
    volume.fileSystem = fileSystem;
    volume.serialNumber = serial;
    volume.totalBytes = totalBytes;
    volume.freeBytesAvailable = freeBytesAvailable;
    volume.totalFreeBytes = freeBytesAvailable + 4096;  // volume-wide count differs on purpose
    volume.driveType = driveType;
    return volume;
}

}  // namespace fakes
}  // namespace Ovra
