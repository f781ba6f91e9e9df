#pragma once

// The Windows SMART requests (SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA)
// answered for a Linux disk with the same ATA commands sent through ATA PASS-THROUGH (16).

#include <cstdint>

namespace Ovra {
namespace platform {
namespace posix {

// Answers `code` for the disk open on `fd`: 0, or the Windows error code the request fails with.
// SMART_GET_VERSION succeeds when IDENTIFY DEVICE does, with CAP_SMART_CMD when the drive
// supports SMART; disks that take no ATA commands (virtio, loop, NVMe, plain SCSI) fail it with
// the pass-through's error, as a Windows disk without SMART fails it. A command the drive
// rejects fails with ERROR_IO_DEVICE, its error register in DRIVERSTATUS.bIDEError. The drive
// number of the command block is not used: `fd` is the drive.
std::uint32_t SmartControl(int fd, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize, std::uint32_t& returned);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
