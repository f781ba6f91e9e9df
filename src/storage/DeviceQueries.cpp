#include "src/storage/DeviceQueries.h"

#include <Ovra/Bases/StringConv.h>

#include "base/platform/DeviceHandle.h"
#include "src/storage/DeviceDescriptor.h"
#include "src/storage/StorageRecords.h"

#include <cstring>
#include <cwctype>
#include <locale>

namespace Ovra {
namespace storage {

using platform::DeviceHandle;
using platform::kGenericRead;
using platform::kGenericWrite;

bool QueryPhysicalDisk(std::size_t number, PhysicalDrive& drive) {
    DeviceHandle device(platform::PhysicalDrivePath(number), kGenericRead | kGenericWrite);
    if (!device.IsOpen()) return false;

    // The output length is the Size field of the zeroed descriptor, set to the whole buffer.
    std::uint8_t descriptor[kDeviceDescriptorBufferSize] = {};
    const std::uint32_t bufferSize = kDeviceDescriptorBufferSize;
    std::memcpy(descriptor + offsetof(StorageDeviceDescriptor, size), &bufferSize,
                sizeof bufferSize);
    StoragePropertyQuery query{};  // StorageDeviceProperty, PropertyStandardQuery
    if (!device.Control(kIoctlStorageQueryProperty, &query, sizeof query, descriptor, bufferSize))
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
    const std::uint32_t type = platform::Sys().GetDriveTypeW(root.c_str());
    return type >= 1 && type <= 6 ? static_cast<int>(type) : 0;
}

}  // namespace storage
}  // namespace Ovra
