#include "base/platform/linux/LinuxVolumes.h"

#include <Ovra/Bases/ModuleDir.h>
#include <Ovra/Bases/StringConv.h>

#include "base/platform/WinIoctl.h"
#include "base/platform/linux/BlockDevices.h"
#include "base/platform/linux/HandleRegistry.h"
#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/Spawn.h"
#include "base/platform/linux/Syscalls.h"
#include "base/platform/linux/SysfsFiles.h"
#include "base/platform/linux/VolumeIdentity.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

const std::uint32_t kErrorPathNotFound = 3;
const std::uint32_t kErrorLabelTooLong = 154;

struct VolumeObject : HandleObject {
    explicit VolumeObject(dev_t d) : HandleObject(HandleKind::kVolume), device(d) {}
    const dev_t device;
};

struct Identity {
    std::string type, version, label;
    std::uint32_t serial = 0;
};

std::string Value(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    return blkid_probe_lookup_value(probe, name, &value, nullptr) == 0 && value ? value : "";
}

bool IsFuse(const std::string& type) {
    return type == "fuse" || type == "fuseblk" || type.compare(0, 5, "fuse.") == 0;
}

// The label the kernel keeps for a mounted file system (ext4, xfs, btrfs); empty when it has none.
std::string KernelLabel(const std::string& mountPoint) {
    char label[FSLABEL_MAX + 1] = {};
    const int fd = Syscalls().open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return std::string();
    if (Syscalls().ioctl(fd, FS_IOC_GETFSLABEL, label) != 0) label[0] = '\0';
    Syscalls().close(fd);
    return label;
}

// What the device's superblock says. A device we may not read (a sandbox, a user without rights)
// is described by its kernel mount: a FUSE mount tells nothing of the device, so it fails.
bool Identify(const BlockVolume& volume, const struct statvfs& info, Identity& identity) {
    if (blkid_probe probe = blkid_new_probe_from_filename(volume.mount.source.c_str())) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                     BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
        const bool found = blkid_do_safeprobe(probe) == 0;
        if (found) {
            identity.type = Value(probe, "TYPE");
            identity.version = Value(probe, "VERSION");
            identity.label = Value(probe, "LABEL");
            identity.serial = FoldSerial(identity.type, Value(probe, "UUID"));
        }
        blkid_free_probe(probe);
        if (found) return !identity.type.empty();
    }
    if (IsFuse(volume.mount.type)) return false;
    identity.type = volume.mount.type;
    identity.label = KernelLabel(volume.mount.mountPoint);
    const bool ext = identity.type == "ext2" || identity.type == "ext3" || identity.type == "ext4";
    identity.serial = ext ? ExtSerialFromFsid(info.f_fsid) : 0;
    return true;
}

bool Find(const std::vector<MountEntry>& table, const wchar_t* root, BlockVolume& volume) {
    return root && FindBlockVolume(table, tcs_to_utf8(root), volume);
}

// Copies `text` with its NUL into a buffer of `size` wide characters; false when it does not fit.
bool CopyOut(const std::wstring& text, wchar_t* buffer, std::uint32_t size) {
    if (!buffer) return true;
    if (text.size() + 1 > size) return false;
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

std::int64_t SysfsBytes(dev_t device, const char* file) {
    std::string sectors;  // sysfs counts in 512-byte units whatever the sector size
    ReadAttribute("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                      std::to_string(minor(device)) + "/" + file,
                  sectors);
    return static_cast<std::int64_t>(std::strtoull(sectors.c_str(), nullptr, 10) * 512);
}

bool KernelLabels(const std::string& type) {
    return type == "ext2" || type == "ext3" || type == "ext4" || type == "xfs" || type == "btrfs";
}

// The labelling tools of the file systems the kernel cannot relabel; they work on the device.
std::vector<std::string> LabelCommand(const std::string& type, const std::string& device,
                                      const std::string& label) {
    if (type == "vfat")
        return label.empty() ? std::vector<std::string>{"fatlabel", "-r", device}
                             : std::vector<std::string>{"fatlabel", device, label};
    if (type == "exfat") return {"exfatlabel", device, label};
    if (type == "ntfs") return {"ntfslabel", "--force", device, label};
    return {};
}

}  // namespace

std::vector<std::wstring> VolumeRoots() {
    std::vector<std::wstring> roots;
    for (const BlockVolume& volume : BlockVolumes(ReadMountTable()))
        roots.push_back(utf8_to_tcs(RootOfMountPoint(volume.mount.mountPoint)));
    return roots;
}

std::uint32_t VolumeDriveType(const wchar_t* root) {
    static const char* const kNetwork[] = {"nfs", "nfs4", "cifs", "smb3",      "smbfs",
                                           "9p",  "ceph", "afs",  "glusterfs", "fuse.sshfs"};
    const std::string point = root ? MountPointOfRoot(tcs_to_utf8(root)) : std::string();
    const std::vector<MountEntry> table = ReadMountTable();
    std::string type;
    for (const MountEntry& entry : table) {
        if (!point.empty() && entry.mountPoint == point) type = entry.type;
    }
    if (type.empty()) return 1;  // DRIVE_NO_ROOT_DIR
    if (std::any_of(std::begin(kNetwork), std::end(kNetwork),
                    [&](const char* network) { return type == network; }))
        return 4;
    if (type == "tmpfs" || type == "ramfs") return 6;
    BlockVolume volume;
    return Find(table, root, volume) ? DriveTypeOf(volume.device) : 0;
}

namespace {
// The mounted volume at `root`, its statvfs and, when asked, what its device says of it.
bool Describe(const wchar_t* root, BlockVolume& volume, struct statvfs& info, Identity* identity) {
    return Find(ReadMountTable(), root, volume) &&
           Syscalls().statvfs(volume.mount.mountPoint.c_str(), &info) == 0 &&
           (!identity || Identify(volume, info, *identity));
}
}  // namespace

std::uint32_t VolumeInformation(const wchar_t* root, wchar_t* label, std::uint32_t labelSize,
                                std::uint32_t* serialNumber, std::uint32_t* maxComponentLength,
                                std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                std::uint32_t fileSystemNameSize) {
    BlockVolume volume;
    Identity identity;
    struct statvfs info {};
    if (!Describe(root, volume, info, &identity)) return kErrorPathNotFound;
    const std::wstring name = utf8_to_tcs(WindowsFileSystemName(identity.type, identity.version));
    if (!CopyOut(utf8_to_tcs(identity.label), label, labelSize) ||
        !CopyOut(name, fileSystemName, fileSystemNameSize))
        return kErrorInsufficientBuffer;
    if (serialNumber) *serialNumber = identity.serial;
    if (maxComponentLength) *maxComponentLength = static_cast<std::uint32_t>(info.f_namemax);
    // FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES, FILE_READ_ONLY_VOLUME
    if (fileSystemFlags) *fileSystemFlags = 0x3 | ((info.f_flag & ST_RDONLY) ? 0x80000 : 0);
    return 0;
}

std::uint32_t VolumeFreeSpace(const wchar_t* root, std::uint64_t* freeBytesAvailable,
                              std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
    BlockVolume volume;
    struct statvfs info {};
    if (!Describe(root, volume, info, nullptr)) return kErrorPathNotFound;
    const std::uint64_t unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    if (freeBytesAvailable) *freeBytesAvailable = std::uint64_t(info.f_bavail) * unit;
    if (totalBytes) *totalBytes = std::uint64_t(info.f_blocks) * unit;
    if (totalFreeBytes) *totalFreeBytes = std::uint64_t(info.f_bfree) * unit;
    return 0;
}

std::uint32_t SetVolumeLabel(const wchar_t* root, const wchar_t* label) {
    BlockVolume volume;
    Identity identity;
    struct statvfs info {};
    if (!Describe(root, volume, info, &identity)) return kErrorPathNotFound;
    const std::string text = label ? tcs_to_utf8(label) : std::string();
    if (KernelLabels(identity.type)) {
        char buffer[FSLABEL_MAX] = {};
        if (text.size() >= sizeof buffer) return kErrorLabelTooLong;
        std::memcpy(buffer, text.data(), text.size());
        const int fd = Syscalls().open(volume.mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) return kErrorAccessDenied;
        const int done = Syscalls().ioctl(fd, FS_IOC_SETFSLABEL, buffer);
        Syscalls().close(fd);
        return done == 0 ? 0 : kErrorAccessDenied;
    }
    const std::vector<std::string> command = LabelCommand(identity.type, volume.mount.source, text);
    if (command.empty() || FindProgram(command[0]).empty()) return kErrorNotSupported;
    return RunProgram(command) == 0 ? 0 : kErrorAccessDenied;
}

Handle OpenVolume(const wchar_t* path) {
    BlockVolume volume;
    if (!Find(ReadMountTable(), path, volume)) return nullptr;
    auto guard = Handles().Lock();
    return Handles().Add(guard, std::make_unique<VolumeObject>(volume.device));
}

std::uint32_t VolumeControl(Handle volume, std::uint32_t code, void* out, std::uint32_t outSize,
                            std::uint32_t* bytesReturned) {
    dev_t device = 0;
    {
        auto guard = Handles().Lock();
        const HandleObject* object = Handles().Find(guard, volume, HandleKind::kVolume);
        if (!object) return kErrorInvalidHandle;
        device = static_cast<const VolumeObject*>(object)->device;
    }
    if (code != kIoctlVolumeGetVolumeDiskExtents) return kErrorNotSupported;
    VolumeDiskExtents extents;
    if (!out || outSize < sizeof extents) return kErrorInsufficientBuffer;
    const int disk = DiskNumberOf(device);
    if (disk < 0) return kErrorNotSupported;
    std::memset(&extents, 0, sizeof extents);
    extents.numberOfDiskExtents = 1;
    extents.extents[0].diskNumber = static_cast<std::uint32_t>(disk);
    extents.extents[0].startingOffset = SysfsBytes(device, "start");
    extents.extents[0].extentLength = SysfsBytes(device, "size");
    std::memcpy(out, &extents, sizeof extents);
    if (bytesReturned) *bytesReturned = sizeof extents;
    return 0;
}

std::wstring LibraryPath(const wchar_t* name) {
    std::wstring dir;
    if (name && wcscasecmp(name, L"fmifs.dll") == 0 &&
        GetModuleDirOf(reinterpret_cast<const void*>(&LibraryPath), dir))
        return dir + L"/libfmifs.so";
    return name ? name : L"";
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
