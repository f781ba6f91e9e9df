#pragma once

// The Linux answers of the POSIX backend to the volume entries of the seam. A volume root is the
// mount point of a file system on a block device, with a trailing slash: "/", "/mnt/rec1/". Each
// call reads the mount table (once), sysfs and the device afresh; nothing is cached between calls.
//
// The entries return 0 on success or the Windows error code that the backend reports.

#include "base/platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

std::vector<std::wstring> VolumeRoots();

// The drive type of a root: 4 for a network file system, 6 for a RAM file system, the device's
// type for a volume (BlockDevices.h), 1 when nothing is mounted there, 0 otherwise.
std::uint32_t VolumeDriveType(const wchar_t* root);

std::uint32_t VolumeInformation(const wchar_t* root, wchar_t* label, std::uint32_t labelSize,
                                std::uint32_t* serialNumber, std::uint32_t* maxComponentLength,
                                std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                std::uint32_t fileSystemNameSize);
std::uint32_t VolumeFreeSpace(const wchar_t* root, std::uint64_t* freeBytesAvailable,
                              std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes);
std::uint32_t SetVolumeLabel(const wchar_t* root, const wchar_t* label);

// A volume opened by its root with CreateFileW; it answers the disk-extents request only and is
// closed with the other handles (HandleRegistry.h). Open gives null when `path` is no volume root.
Handle OpenVolume(const wchar_t* path);
std::uint32_t VolumeControl(Handle volume, std::uint32_t code, void* out, std::uint32_t outSize,
                            std::uint32_t* bytesReturned);

// The file LoadLibraryW loads for `name`: the formatting library "fmifs.dll" is our libfmifs.so
// beside this library; any other name is used as it is.
std::wstring LibraryPath(const wchar_t* name);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
