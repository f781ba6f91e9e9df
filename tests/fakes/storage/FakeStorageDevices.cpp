#include "fakes/storage/FakeStorageDevices.h"

#include <algorithm>
#include <cstring>

namespace Ovra {
namespace fakes {

namespace {
const std::uint32_t kQueryProperty = 0x002D1400;
const std::uint32_t kDriveGeometry = 0x00070000;
const std::uint32_t kVolumeDiskExtents = 0x00560000;
const std::uint32_t kErrorInsufficientBuffer = 122;
const std::uint32_t kErrorMoreData = 234;
const std::uint32_t kErrorGenFailure = 31;
const std::size_t kHeaderSize = 40;

void Put32(std::uint8_t* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}
}  // namespace

FakeDisk::FakeDisk() : m_descriptor(kDescriptorSize, 0) {
    PutU32(0, static_cast<std::uint32_t>(kHeaderSize));  // Version
    PutU32(4, static_cast<std::uint32_t>(kHeaderSize));  // Size
    SetGeometry(1000, 255, 63, 512);
}

void FakeDisk::PutU32(std::size_t at, std::uint32_t value) {
    Put32(&m_descriptor[at], value);
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
    PutU32(static_cast<std::size_t>(field), offset);
    return *this;
}

FakeDisk& FakeDisk::SetRemovable(bool removable) {
    m_descriptor[10] = removable ? 1 : 0;
    return *this;
}

FakeDisk& FakeDisk::SetGeometry(long long cylinders, std::uint32_t tracksPerCylinder,
                                std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector) {
    std::memcpy(m_geometry, &cylinders, sizeof cylinders);
    Put32(m_geometry + 8, 12);  // FixedMedia
    Put32(m_geometry + 12, tracksPerCylinder);
    Put32(m_geometry + 16, sectorsPerTrack);
    Put32(m_geometry + 20, bytesPerSector);
    return *this;
}

FakeDisk& FakeDisk::RefuseDescriptor(bool refuse) {
    m_refuseDescriptor = refuse;
    return *this;
}

FakeDisk& FakeDisk::RefuseGeometry(bool refuse) {
    m_refuseGeometry = refuse;
    return *this;
}

int FakeDisk::Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                      std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) {
    if (code == kQueryProperty) {
        // Only the standard query of the device property (both ids 0) is answered.
        std::uint32_t ids[2] = {1, 1};
        if (in && inSize >= 8) std::memcpy(ids, in, sizeof ids);
        if (m_refuseDescriptor || inSize != 12 || ids[0] != 0 || ids[1] != 0 || !out) {
            *error = kErrorGenFailure;
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(outSize, m_descriptor.size());
        std::memcpy(out, m_descriptor.data(), n);
        *bytesReturned = static_cast<std::uint32_t>(n);
        return 1;
    }
    if (code == kDriveGeometry) {
        if (m_refuseGeometry) {
            *error = kErrorGenFailure;
            return 0;
        }
        if (!out || outSize < sizeof m_geometry) {
            *error = kErrorInsufficientBuffer;
            return 0;
        }
        std::memcpy(out, m_geometry, sizeof m_geometry);
        *bytesReturned = sizeof m_geometry;
        return 1;
    }
    *error = platform::kErrorNotSupported;
    return 0;
}

int FakeVolumeDevice::Control(std::uint32_t code, const void*, std::uint32_t, void* out,
                              std::uint32_t outSize, std::uint32_t* bytesReturned,
                              std::uint32_t* error) {
    if (code != kVolumeDiskExtents) {
        *error = platform::kErrorNotSupported;
        return 0;
    }
    if (!out || outSize < 8) {
        *error = kErrorInsufficientBuffer;
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    Put32(bytes, static_cast<std::uint32_t>(m_disks.size()));
    const std::size_t needed = 8 + 24 * m_disks.size();
    if (outSize < needed) {  // as Windows: the count is there, the extents are not
        *bytesReturned = 8;
        *error = kErrorMoreData;
        return 0;
    }
    for (std::size_t i = 0; i < m_disks.size(); ++i) {
        std::uint8_t* extent = bytes + 8 + 24 * i;
        std::memset(extent, 0, 24);
        Put32(extent, m_disks[i]);
        const long long length = 1LL << 30;
        std::memcpy(extent + 16, &length, sizeof length);
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
