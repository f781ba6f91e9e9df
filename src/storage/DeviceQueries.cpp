#include "src/storage/DeviceQueries.h"

#include <Ovra/Bases/StringConv.h>

#include "base/platform/Platform.h"
#include "src/storage/DeviceDescriptor.h"
#include "src/storage/StorageRecords.h"

#include <cstring>
#include <cwctype>
#include <locale>

namespace Ovra {
namespace storage {

using platform::Sys;

namespace {

// A device handle closed when it goes out of scope.
class DeviceHandle {
public:
    DeviceHandle(const std::wstring& path, std::uint32_t access)
        : m_handle(Sys().CreateFileW(path.c_str(), access, kFileShareReadWrite, kOpenExisting, 0)) {
        if (m_handle == platform::InvalidHandle()) m_handle = nullptr;
    }
    ~DeviceHandle() {
        if (m_handle) Sys().CloseHandle(m_handle);
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    bool IsOpen() const { return m_handle != nullptr; }
    bool Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize) {
        std::uint32_t returned = 0;
        return Sys().DeviceIoControl(m_handle, code, in, inSize, out, outSize, &returned) != 0;
    }

private:
    platform::Handle m_handle;
};

}  // namespace

bool QueryPhysicalDisk(std::size_t number, PhysicalDrive& drive) {
    DeviceHandle device(L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(number),
                        kGenericRead | kGenericWrite);
    if (!device.IsOpen()) return false;

    std::uint8_t descriptor[kDeviceDescriptorBufferSize] = {};
    const std::uint32_t bufferSize = kDeviceDescriptorBufferSize;
    std::memcpy(descriptor + offsetof(StorageDeviceDescriptor, size), &bufferSize,
                sizeof bufferSize);
    StoragePropertyQuery query{};  // StorageDeviceProperty, PropertyStandardQuery
    std::uint32_t outSize = 0;
    std::memcpy(&outSize, descriptor + offsetof(StorageDeviceDescriptor, size), sizeof outSize);
    if (!device.Control(kIoctlStorageQueryProperty, &query, sizeof query, descriptor, outSize))
        return false;
    const DeviceIdentity identity = ParseDeviceDescriptor(descriptor, sizeof descriptor);

    DiskGeometry geometry{};
    if (!device.Control(kIoctlDiskGetDriveGeometry, nullptr, 0, &geometry, sizeof geometry))
        return false;

    const std::locale locale;
    drive.type = identity.removable ? kDriveRemovable : kDriveFixed;
    drive.size = static_cast<unsigned long long>(geometry.tracksPerCylinder) *
                 geometry.bytesPerSector * geometry.sectorsPerTrack *
                 static_cast<unsigned long long>(geometry.cylinders);
    drive.name = L"Disk" + std::to_wstring(number);
    drive.vendorId = mbs_to_tcs(identity.vendorId, locale);
    drive.productId = mbs_to_tcs(identity.productId, locale);
    drive.serialNumber = mbs_to_tcs(identity.serialNumber, locale);
    return true;
}

bool IsLetterRoot(const std::wstring& root) {
    return root.size() == 3 && root[1] == L':' && root[2] == L'\\';
}

int QueryVolumeDiskNumber(const std::wstring& root) {
    const std::wstring path =
        IsLetterRoot(root)
            ? std::wstring{L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(std::towupper(root[0])),
                           L':'}
            : root;
    DeviceHandle volume(path, kGenericRead);
    if (!volume.IsOpen()) return -1;
    VolumeDiskExtents extents{};
    // Room for one extent only: a volume over several disks makes the call fail.
    if (!volume.Control(kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, &extents, sizeof extents))
        return -1;
    if (extents.numberOfDiskExtents < 1) return -1;
    return static_cast<int>(extents.extents[0].diskNumber);
}

int DriveTypeCode(const std::wstring& root) {
    const std::uint32_t type = Sys().GetDriveTypeW(root.c_str());
    return type >= 1 && type <= 6 ? static_cast<int>(type) : 0;
}

}  // namespace storage
}  // namespace Ovra
