#pragma once

// The conclusions of a health reading: the summary readings taken from the attributes or the
// NVMe log, and the verdict with its reasons.

#include <Ovra/DiskHealth.h>

namespace Ovra {
namespace health {

// Temperature, power-on hours and the five counters from the attributes (ATA) or the log (NVMe).
void Summarise(DiskHealth& health);

// Sets the verdict and its reasons from what `health` holds (see ReadDiskHealth).
void Judge(DiskHealth& health, int temperatureLimit);

}  // namespace health
}  // namespace Ovra
