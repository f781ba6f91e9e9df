#pragma once

// Physical disks "\\.\PHYSICALDRIVEn" of the POSIX backend: the n-th disk of ListPhysicalDisks,
// opened as its block device, answering the storage-property, geometry and SMART requests as a
// Windows disk does.

#include "base/platform/Platform.h"

#include <cstdint>

namespace Ovra {
namespace platform {
namespace posix {

// Whether `path` names a physical disk (\\.\PHYSICALDRIVEn, any letter case).
bool IsPhysicalDrivePath(const wchar_t* path);

// Opens the disk that `path` names, read-write or, when that is refused, read-only; when even
// that is not permitted, the handle answers from sysfs and SMART requests fail with
// ERROR_ACCESS_DENIED. On failure returns InvalidHandle() and sets `error`
// (ERROR_FILE_NOT_FOUND when there is no such disk).
Handle OpenPhysicalDrive(const wchar_t* path, std::uint32_t& error);

// DeviceIoControl on a disk handle: 0, or the Windows error code of the failed request
// (ERROR_INVALID_HANDLE when `handle` is no open disk). A disk handle is closed with the others
// (HandleRegistry.h).
std::uint32_t DiskControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                          void* out, std::uint32_t outSize, std::uint32_t* returned);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
