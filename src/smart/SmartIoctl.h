#pragma once

// The Windows disk requests for SMART and their records, declared here with the Windows layout
// (byte-packed) so that the same code builds where the Windows headers are absent.

#include "base/platform/WinIoctl.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace Ovra {
namespace smart {

// The request codes and layouts are Windows' own, shared with the backends.
using platform::DRIVERSTATUS;
using platform::GETVERSIONINPARAMS;
using platform::IDEREGS;
using platform::kCapSmartCmd;
using platform::kEnableSmart;
using platform::kReadAttributes;
using platform::kReadThresholds;
using platform::kSmartCmd;
using platform::kSmartCylHi;
using platform::kSmartCylLow;
using platform::kSmartGetVersion;
using platform::kSmartPageSize;
using platform::kSmartRcvDriveData;
using platform::kSmartSendDriveCommand;
using platform::SENDCMDINPARAMS;
using platform::SENDCMDOUTPARAMS;

const std::uint8_t kSmartDriveHead = 0xA0;

using SmartPage = std::array<std::uint8_t, kSmartPageSize>;
// The attribute and threshold pages: 30 entries of 12 bytes after the structure revision.
const std::size_t kFirstEntry = 2;
const std::size_t kEntrySize = 12;
const std::size_t kEntryCount = 30;

#pragma pack(push, 1)
// The reply to SMART_RCV_DRIVE_DATA: the head of SENDCMDOUTPARAMS followed by one data page.
struct SmartDataReply {
    std::uint32_t cBufferSize;
    DRIVERSTATUS DriverStatus;
    SmartPage bBuffer;
};
#pragma pack(pop)

static_assert(sizeof(SmartDataReply) == 528, "SMART data reply layout");

}  // namespace smart
}  // namespace Ovra
