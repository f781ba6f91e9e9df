#pragma once

// Which block devices are physical disks, and their numbers: \\.\PHYSICALDRIVEn is the n-th
// name of this list.

#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

// The kernel names of the whole disks under /sys/block, in disk-number order: disks named by
// letters (sd, vd, hd, xvd) in the kernel's order (sdz before sdaa), then the others in natural
// name order (nvme0n2 before nvme0n10), then loop devices, so that attaching one never
// renumbers a real disk. Left out: partitions, RAM disks (ram, zram),
// optical drives (sr, which Windows numbers apart as CdRomN) and loop devices without a backing
// file.
std::vector<std::string> ListPhysicalDisks();

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
