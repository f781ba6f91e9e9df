#include "fmifs/src/VolumeFormat.h"

#include "base/platform/linux/BlockDevices.h"
#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/Spawn.h"
#include "base/platform/linux/Syscalls.h"
#include "base/platform/linux/SysfsFiles.h"
#include "fmifs/src/FileSystemTools.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace Ovra {
namespace fmifs {

using namespace platform::posix;

namespace {

bool SameOrRelated(dev_t a, dev_t b) {
    if (a == b) return true;
    const std::string diskA = WholeDiskOf(a), diskB = WholeDiskOf(b);
    // A disk and one of its partitions share their whole disk; two partitions of one disk are
    // separate volumes.
    return !diskA.empty() && diskA == diskB && (DeviceName(a) == diskA || DeviceName(b) == diskB);
}

// Another mounted file system on the device, wherever it is mounted (bind mounts included).
bool DeviceBusyElsewhere(const std::vector<MountEntry>& table, const BlockVolume& volume) {
    for (const MountEntry& entry : table) {
        struct stat info {};
        if (entry.mountPoint == volume.mount.mountPoint ||
            Syscalls().stat(entry.source.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
            continue;
        if (SameOrRelated(info.st_rdev, volume.device)) return true;
    }
    return false;
}

// Whether a process has the device open. A FUSE driver (fusefat) writes its last blocks after
// its unmount has returned: into the new file system, if mkfs did not wait for it.
bool OpenByAnyProcess(dev_t device) {
    for (const std::string& pid : ListFolder("/proc")) {
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fds = "/proc/" + pid + "/fd/";
        for (const std::string& fd : ListFolder(fds)) {
            struct stat info {};
            if (Syscalls().stat((fds + fd).c_str(), &info) == 0 && S_ISBLK(info.st_mode) &&
                info.st_rdev == device)
                return true;
        }
    }
    return false;
}

// mkfs needs the device alone: unmounted everywhere and closed by every process.
bool AwaitExclusive(const BlockVolume& volume) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = Syscalls().open(volume.mount.source.c_str(), O_RDONLY | O_EXCL);
        if (fd >= 0) Syscalls().close(fd);
        if (fd >= 0 && !OpenByAnyProcess(volume.device)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The kernel's driver first; where the kernel has none, the FUSE one.
bool Mount(const FileSystemTool& tool, const std::string& device, const std::string& point) {
    if (Syscalls().mount(device.c_str(), point.c_str(), tool.kernelType, 0, nullptr) == 0)
        return true;
    const std::vector<std::string> fuse = FuseMountCommand(tool, device, point);
    return !fuse.empty() && RunProgram(fuse) == 0;
}

}  // namespace

unsigned int DeviceSectorSize(const std::string& device, unsigned int fallback) {
    const int fd = Syscalls().open(device.c_str(), O_RDONLY);
    if (fd < 0) return fallback;
    int size = 0;
    const bool told = Syscalls().ioctl(fd, BLKSSZGET, &size) == 0 && size > 0;
    Syscalls().close(fd);
    return told ? static_cast<unsigned int>(size) : fallback;
}

bool FormatVolume(const FormatRequest& request, const ProgressSink& progress) {
    const FileSystemTool* tool = FindTool(request.fileSystem);
    const std::vector<MountEntry> table = ReadMountTable();
    BlockVolume volume;
    if (!tool || !FindBlockVolume(table, request.root, volume) || volume.mount.mountPoint == "/" ||
        DeviceBusyElsewhere(table, volume))
        return false;
    const std::string& device = volume.mount.source;
    const std::string& point = volume.mount.mountPoint;

    bool going = progress(0);
    if (!going || Syscalls().umount2(point.c_str(), 0) != 0) return false;
    MkfsOptions options;
    options.device = device;
    options.label = request.label;
    options.quick = request.quick;
    options.clusterSize = request.clusterSize;
    options.sectorSize = DeviceSectorSize(device, options.sectorSize);
    bool made = AwaitExclusive(volume);
    if (made) {
        ProgressParser parser;
        unsigned int reported = 0;
        const int status = RunProgram(MkfsCommand(*tool, options), [&](const std::string& chunk) {
            const int percent = parser.Feed(chunk);
            // 100 waits for the mount; the tools' stages may each count from 0 again.
            if (going && percent > static_cast<int>(reported) && percent < 100) {
                reported = static_cast<unsigned int>(percent);
                going = progress(reported);
            }
            return going;
        });
        made = status == 0 && going;
    }
    if (made && Mount(*tool, device, point)) {
        progress(100);
        return true;
    }
    // Put back whatever is on the device now, so that the volume does not vanish.
    RunProgram({"mount", device, point});
    return false;
}

}  // namespace fmifs
}  // namespace Ovra
