#pragma once

// The health requests beyond the SMART pages, answered for a Linux disk: SMART RETURN STATUS with
// the registers the drive returns, the NVMe protocol-specific storage queries (Identify, log
// pages) and the NVMe Device Self-test command as NVMe admin commands.

#include <cstdint>

namespace Ovra {
namespace platform {
namespace posix {

// Whether SMART_SEND_DRIVE_COMMAND's block `in` asks for RETURN STATUS.
bool IsSmartReturnStatus(const void* in, std::uint32_t inSize);

// RETURN STATUS through ATA PASS-THROUGH (16) with CK_COND; the reply is SENDCMDOUTPARAMS whose
// buffer holds the IDEREGS read back (LBA mid/high 4Fh/C2h: good, F4h/2Ch: threshold exceeded).
// 0 or a Windows error code.
std::uint32_t SmartReturnStatus(int fd, void* out, std::uint32_t outSize, std::uint32_t& returned);

// Whether IOCTL_STORAGE_QUERY_PROPERTY's query `in` asks for NVMe protocol-specific data
// (the device's or the adapter's property).
bool IsNvmeProtocolQuery(const void* in, std::uint32_t inSize);

// Identify (data type 1, CNS = request value) or Get Log Page (data type 2, log id = request
// value, offset from the sub-values) through NVME_IOCTL_ADMIN_CMD; the reply is the
// STORAGE_PROTOCOL_DATA_DESCRIPTOR followed by the data where the query placed it. 0 or a
// Windows error code: ERROR_NOT_SUPPORTED for a device that is no NVMe namespace.
std::uint32_t NvmeProtocolQuery(int fd, const void* in, std::uint32_t inSize, void* out,
                                std::uint32_t outSize, std::uint32_t& returned);

// IOCTL_STORAGE_PROTOCOL_COMMAND with an NVMe admin command and no data, through
// NVME_IOCTL_ADMIN_CMD. Only Device Self-test (14h) passes: nothing else reaches the controller
// this way (ERROR_NOT_SUPPORTED). The reply is the request with ReturnStatus set to success and
// FixedProtocolReturnData to the completion's dword 0; a controller's error status fails with
// ERROR_IO_DEVICE.
std::uint32_t NvmeProtocolCommand(int fd, const void* in, std::uint32_t inSize, void* out,
                                  std::uint32_t outSize, std::uint32_t& returned);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
