#pragma once

// SCSI commands over the SG_IO request of Linux block and sg devices, and the ATA commands that
// reach a SATA disk through ATA PASS-THROUGH (16) (libata and USB bridges both translate it).
// Results are Windows error codes, so that callers answering Windows requests pass them on:
// 0 success; kErrorNotSupported (50) when the device takes no SG_IO or refuses the command as
// an illegal request (virtio, loop and NVMe disks, plain SCSI disks without ATA behind them);
// kErrorIoDevice (1117) for any other failure, the ATA command's own errors included.

#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace platform {
namespace posix {

enum class DataDirection { kNone, kIn, kOut };

// What the device said about one SCSI command.
struct ScsiReply {
    std::uint8_t status = 0;  // SCSI status: 0 GOOD, 2 CHECK CONDITION
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::uint8_t sense[32] = {};
    std::size_t senseLength = 0;
};

// Sends `cdb` through SG_IO with `length` bytes of data in `direction`. Fills `reply` (optional)
// whatever the outcome, sense data included.
std::uint32_t ScsiCommand(int fd, const std::uint8_t* cdb, std::size_t cdbLength,
                          DataDirection direction, void* buffer, std::size_t length,
                          ScsiReply* reply = nullptr);

// The 28-bit ATA task file. On return `features` holds the error register and `command` the
// status register, as Windows' IDEREGS does.
struct AtaRegisters {
    std::uint8_t features = 0;
    std::uint8_t count = 0;
    std::uint8_t lbaLow = 0;
    std::uint8_t lbaMid = 0;
    std::uint8_t lbaHigh = 0;
    std::uint8_t device = 0;
    std::uint8_t command = 0;
};

// Runs one ATA command: non-data (kNone), PIO data-in (kIn) or PIO data-out (kOut) of `length`
// bytes, a whole number of 512-byte blocks, whose count is the `count` register. `out` receives
// the registers whenever the sense data carries them: on an ATA error, and on success too when
// `checkCondition` asks the device to return them (CK_COND; RETURN STATUS needs that).
std::uint32_t AtaPassThrough16(int fd, const AtaRegisters& in, DataDirection direction,
                               void* buffer, std::size_t length, AtaRegisters* out = nullptr,
                               bool checkCondition = false);

// Reads the ATA registers from sense data: the ATA Status Return descriptor (code 0x09) of
// descriptor-format sense, or the fixed-format sense that says ATA PASS-THROUGH INFORMATION
// AVAILABLE. False when the sense carries neither.
bool AtaRegistersFromSense(const std::uint8_t* sense, std::size_t length, AtaRegisters& registers);

// SCSI INQUIRY: the standard data (page < 0) or the vital product data page `page`.
std::uint32_t ScsiInquiry(int fd, int page, std::uint8_t* buffer, std::uint8_t length);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
