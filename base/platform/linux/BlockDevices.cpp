#include "base/platform/linux/BlockDevices.h"

#include "base/platform/linux/DiskList.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace Ovra {
namespace platform {
namespace posix {

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

// The device's folder in sysfs; empty when sysfs does not know it.
static fs::path SysfsNode(dev_t device) {
    std::error_code error;
    const fs::path node = fs::canonical(
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)),
        error);
    return error ? fs::path() : node;
}

std::string DeviceName(dev_t device) {
    return SysfsNode(device).filename().string();
}

std::string WholeDiskOf(dev_t device) {
    const fs::path node = SysfsNode(device);
    std::error_code error;
    // A partition's folder sits inside its disk's folder and has a "partition" file.
    const fs::path disk = fs::exists(node / "partition", error) ? node.parent_path() : node;
    return disk.filename().string();
}

int DiskNumberOf(dev_t device) {
    const std::string disk = WholeDiskOf(device);
    const std::vector<std::string> disks = ListPhysicalDisks();
    auto it = std::find(disks.begin(), disks.end(), disk);
    return disk.empty() || it == disks.end() ? -1 : static_cast<int>(it - disks.begin());
}

std::uint32_t DriveTypeOf(dev_t device) {
    const std::string disk = WholeDiskOf(device);
    if (StartsWith(disk, "sr")) return 5;
    if (StartsWith(disk, "ram") || StartsWith(disk, "zram")) return 6;
    if (!disk.empty() && ReadLine("/sys/block/" + disk + "/removable") == "1") return 2;
    return 3;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
