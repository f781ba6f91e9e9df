#pragma once

// The device and volume queries behind both inventories. Each opens its device, asks, and closes
// it again before returning: no handle outlives a call.

#include <Ovra/StoragePhysicalDrive.h>

#include <cstddef>
#include <string>

namespace Ovra {
namespace storage {

// Describes disk `number` ("\\.\PHYSICALDRIVEn"); false when the device cannot be opened or one of
// its two queries fails.
bool QueryPhysicalDisk(std::size_t number, PhysicalDrive& drive);

// The number of the disk that holds the volume of `root`; -1 when it cannot be told (no device,
// failed query, a volume over several disks, no extent). A lettered root is asked through its
// volume device \\.\C: ; any other root (a Linux mount point) is opened as it is.
int QueryVolumeDiskNumber(const std::wstring& root);

// True for a root of the form "C:\" (any letter).
bool IsLetterRoot(const std::wstring& root);

// The drive type of `root`: the system's answer when it is 1 to 6, otherwise 0.
int DriveTypeCode(const std::wstring& root);

}  // namespace storage
}  // namespace Ovra
