#pragma once

// ATA commands through the Windows SMART requests: the command blocks of the SMART features,
// IDENTIFY DEVICE, READ LOG and EXECUTE OFF-LINE IMMEDIATE, and the requests that carry them.
// Every ATA command of the library is built and sent here.

#include <Ovra/DiskHealth.h>

#include "src/ata/AtaPages.h"
#include "src/ata/DiskDevice.h"

#include <array>
#include <cstdint>

namespace Ovra {
namespace ata {

using Page = std::array<std::uint8_t, kPageSize>;

#pragma pack(push, 1)
// The reply to SMART_RCV_DRIVE_DATA: the head of SENDCMDOUTPARAMS followed by one page.
struct DataReply {
    std::uint32_t cBufferSize;
    platform::DRIVERSTATUS DriverStatus;
    Page bBuffer;
};
#pragma pack(pop)
static_assert(sizeof(DataReply) == 528, "SMART data reply layout");

// Log addresses of SMART READ LOG.
const std::uint8_t kSummaryErrorLog = 0x01;
const std::uint8_t kSelfTestLog = 0x06;
// The LBA low of EXECUTE OFF-LINE IMMEDIATE that stops a running self-test; 1-3 start the
// short, extended and conveyance tests in off-line mode.
const std::uint8_t kAbortSelfTest = 127;

// SMART_GET_VERSION: whether the driver takes SMART commands.
bool TakesSmartCommands(DiskDevice& disk);

// A SMART feature without data (ENABLE OPERATIONS, EXECUTE OFF-LINE IMMEDIATE) through
// SMART_SEND_DRIVE_COMMAND, whose reply is the status head alone. Every SMART feature goes with
// count 1, LBA mid/high 4Fh/C2h and LBA low `lbaLow`: the log address of READ LOG, the
// subcommand of EXECUTE OFF-LINE IMMEDIATE, else 1.
bool SendSmart(DiskDevice& disk, std::uint8_t features, std::uint8_t lbaLow = 1);

// One 512-byte page of a SMART feature (READ DATA, READ THRESHOLDS, READ LOG) through
// SMART_RCV_DRIVE_DATA. `reply` is cleared first.
bool ReadSmartPage(DiskDevice& disk, std::uint8_t features, DataReply& reply,
                   std::uint8_t lbaLow = 1);

// IDENTIFY DEVICE through SMART_RCV_DRIVE_DATA.
bool IdentifyDevice(DiskDevice& disk, DataReply& reply);

// SMART RETURN STATUS: the drive's verdict on itself, read from LBA mid/high.
bool ReturnStatus(DiskDevice& disk, DiskHealth::Assessment& assessment);

}  // namespace ata
}  // namespace Ovra
