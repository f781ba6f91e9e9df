#pragma once

// The device side of a health reading. Each reader sends its requests on an open disk and fills
// `health`; on failure it returns the result code with the reason added to `health.reasons`.

#include <Ovra/DiskHealth.h>

#include "base/platform/DeviceHandle.h"

namespace Ovra {
namespace health {

// GET_VERSION, IDENTIFY DEVICE, RETURN STATUS, READ DATA and READ THRESHOLDS. 127 without a
// reason when the driver takes no SMART commands, so that the caller may try NVMe.
int ReadAtaHealth(platform::DeviceHandle& device, long long disk, DiskHealth& health);

// Identify Controller and the health log through the protocol-specific property of the device
// (the adapter's when the device's is refused). 127 without a reason when the first query gets
// no answer.
int ReadNvmeHealth(platform::DeviceHandle& device, DiskHealth& health);

// Opens the disk, picks the protocol, reads and judges (see ReadDiskHealth).
int ReadHealth(long long disk, DiskHealth& health, int temperatureLimit);

}  // namespace health
}  // namespace Ovra
