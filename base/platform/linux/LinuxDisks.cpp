#include "base/platform/linux/LinuxDisks.h"

#include "base/platform/WinIoctl.h"
#include "base/platform/linux/DiskDescriptor.h"
#include "base/platform/linux/DiskList.h"
#include "base/platform/linux/HandleRegistry.h"
#include "base/platform/linux/LinuxHealthIoctl.h"
#include "base/platform/linux/LinuxSmart.h"
#include "base/platform/linux/Syscalls.h"
#include "base/platform/linux/SysfsFiles.h"

#include <fcntl.h>
#include <linux/fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>
#include <string>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

struct Disk : HandleObject {
    Disk(int f, const std::string& n) : HandleObject(HandleKind::kDisk), fd(f), name(n) {}
    ~Disk() override {
        if (fd >= 0) Syscalls().close(fd);
    }
    const int fd;            // -1 when the node refused us
    const std::string name;  // under /sys/block
};

// The n of \\.\PHYSICALDRIVEn, or -1.
long long DiskNumber(const wchar_t* path) {
    static const wchar_t kPrefix[] = L"\\\\.\\PHYSICALDRIVE";
    const std::size_t prefixLength = sizeof kPrefix / sizeof kPrefix[0] - 1;
    if (!path) return -1;
    for (std::size_t i = 0; i < prefixLength; ++i) {
        if (std::towupper(static_cast<wint_t>(path[i])) != static_cast<wint_t>(kPrefix[i]))
            return -1;
    }
    long long number = 0;
    const wchar_t* digit = path + prefixLength;
    for (; *digit >= L'0' && *digit <= L'9' && number < (1LL << 40); ++digit)
        number = number * 10 + (*digit - L'0');
    return digit != path + prefixLength && *digit == 0 ? number : -1;
}

std::uint32_t OpenError(int error) {
    return error == ENOENT || error == ENXIO || error == ENODEV ? kErrorFileNotFound
                                                                : kErrorIoDevice;
}

std::uint32_t QueryProperty(const Disk& disk, const void* in, std::uint32_t inSize, void* out,
                            std::uint32_t outSize, std::uint32_t& returned) {
    StoragePropertyQuery query;
    if (!in || inSize < 8) return kErrorInvalidParameter;
    std::memcpy(&query, in, 8);
    if (query.propertyId != 0 || query.queryType != 0) return kErrorNotSupported;
    if (!out || outSize < 8) return kErrorInsufficientBuffer;  // room for Version and Size
    const auto bytes = DeviceDescriptorBytes(ReadDiskIdentity(disk.fd, disk.name));
    // As Windows does: as much as fits, Size telling the whole length.
    returned = static_cast<std::uint32_t>(std::min<std::size_t>(outSize, bytes.size()));
    std::memcpy(out, bytes.data(), returned);
    return 0;
}

// The length in bytes and the logical sector size: from the device, or from sysfs when the
// device node would not open.
bool DiskSize(const Disk& disk, std::uint64_t& bytes, std::uint32_t& sectorSize) {
    if (disk.fd >= 0) {
        int sector = 0;
        if (Syscalls().ioctl(disk.fd, BLKGETSIZE64, &bytes) != 0 ||
            Syscalls().ioctl(disk.fd, BLKSSZGET, &sector) != 0)
            return false;
        sectorSize = static_cast<std::uint32_t>(sector);
        return sector > 0;
    }
    const std::string block = "/sys/block/" + disk.name;
    std::string sectors, sector;  // sysfs counts in 512-byte units whatever the sector size
    if (!ReadAttribute(block + "/size", sectors) ||
        !ReadAttribute(block + "/queue/logical_block_size", sector))
        return false;
    bytes = std::strtoull(sectors.c_str(), nullptr, 10) * 512;
    sectorSize = static_cast<std::uint32_t>(std::strtoul(sector.c_str(), nullptr, 10));
    return sectorSize > 0;
}

// Windows' geometry of a large disk: 255 heads, 63 sectors per track, whole cylinders only.
std::uint32_t Geometry(const Disk& disk, void* out, std::uint32_t outSize,
                       std::uint32_t& returned) {
    std::uint64_t bytes = 0;
    std::uint32_t sectorSize = 0;
    if (!DiskSize(disk, bytes, sectorSize)) return kErrorIoDevice;
    if (!out || outSize < sizeof(DiskGeometry)) return kErrorInsufficientBuffer;
    std::string removable;
    ReadAttribute("/sys/block/" + disk.name + "/removable", removable);
    DiskGeometry geometry;
    std::memset(&geometry, 0, sizeof geometry);
    geometry.mediaType = removable == "1" ? kRemovableMedia : kFixedMedia;
    geometry.tracksPerCylinder = 255;
    geometry.sectorsPerTrack = 63;
    geometry.bytesPerSector = sectorSize;
    geometry.cylinders = static_cast<std::int64_t>(bytes / (255ull * 63 * sectorSize));
    std::memcpy(out, &geometry, sizeof geometry);
    returned = sizeof geometry;
    return 0;
}

}  // namespace

bool IsPhysicalDrivePath(const wchar_t* path) {
    return DiskNumber(path) >= 0;
}

Handle OpenPhysicalDrive(const wchar_t* path, std::uint32_t& error) {
    const long long number = DiskNumber(path);
    const auto disks = ListPhysicalDisks();
    if (number < 0 || static_cast<unsigned long long>(number) >= disks.size()) {
        error = kErrorFileNotFound;
        return InvalidHandle();
    }
    const std::string name = disks[static_cast<std::size_t>(number)];
    const std::string device = "/dev/" + name;
    // Non-blocking: a removable drive without a medium opens all the same.
    int fd = Syscalls().open(device.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = Syscalls().open(device.c_str(), O_RDONLY | O_NONBLOCK);
    // A node refused to us (not root, or a device policy) still leaves the disk described from
    // sysfs, as lsblk does; only the requests that need the device fail then.
    if (fd < 0 && errno != EACCES && errno != EPERM) {
        error = OpenError(errno);
        return InvalidHandle();
    }
    auto guard = Handles().Lock();
    return Handles().Add(guard, std::make_unique<Disk>(fd, name));
}

std::uint32_t DiskControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                          void* out, std::uint32_t outSize, std::uint32_t* returned) {
    std::uint32_t ignored = 0;
    std::uint32_t& count = returned ? *returned : ignored;
    count = 0;
    const Borrowed<Disk> held(handle, HandleKind::kDisk);
    if (!held) return kErrorInvalidHandle;
    const Disk& disk = *held;
    switch (code) {
        case kIoctlStorageQueryProperty:
            if (!IsNvmeProtocolQuery(in, inSize))
                return QueryProperty(disk, in, inSize, out, outSize, count);
            if (disk.fd < 0) return kErrorAccessDenied;
            return NvmeProtocolQuery(disk.fd, in, inSize, out, outSize, count);
        case kIoctlStorageProtocolCommand:
            if (disk.fd < 0) return kErrorAccessDenied;
            return NvmeProtocolCommand(disk.fd, in, inSize, out, outSize, count);
        case kIoctlDiskGetDriveGeometry:
            return Geometry(disk, out, outSize, count);
        case kSmartGetVersion:
        case kSmartSendDriveCommand:
        case kSmartRcvDriveData:
            if (disk.fd < 0) return kErrorAccessDenied;
            if (code == kSmartSendDriveCommand && IsSmartReturnStatus(in, inSize))
                return SmartReturnStatus(disk.fd, out, outSize, count);
            return SmartControl(disk.fd, code, in, inSize, out, outSize, count);
        default:
            return kErrorNotSupported;
    }
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
