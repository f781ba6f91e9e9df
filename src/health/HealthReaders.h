#pragma once

// The device side of a health reading. Each reader sends its requests on an open disk and fills
// `health`; on failure it returns the result code with the reason added to `health.reasons`. A
// log the device refuses leaves its fields absent.

#include <Ovra/DiskHealth.h>

#include "src/ata/DiskDevice.h"

namespace Ovra {
namespace health {

// Whether the disk is read with ATA commands: its descriptor does not name the NVMe bus and its
// driver takes SMART commands (SMART_GET_VERSION). Otherwise the NVMe queries are tried.
bool UsesAta(ata::DiskDevice& device);

// IDENTIFY DEVICE, RETURN STATUS, READ DATA, READ THRESHOLDS, and READ LOG of the self-test log
// (when the drive runs self-tests) and the summary error log (when it keeps one).
int ReadAtaHealth(ata::DiskDevice& device, DiskHealth& health);

// Identify Controller, the health log, the Device Self-test log (when the controller runs
// self-tests) and the Error Information log. 127 without a reason when Identify gets no answer.
int ReadNvmeHealth(ata::DiskDevice& device, DiskHealth& health);

// Opens the disk, picks the protocol, reads and judges (see ReadDiskHealth).
int ReadHealth(long long disk, DiskHealth& health, int temperatureLimit);

// Starts a self-test of `kind`, or with `abort` stops the running one (see StartDiskSelfTest).
int RunSelfTestCommand(long long disk, int kind, bool abort, std::wstring& reason);

}  // namespace health
}  // namespace Ovra
