#pragma once

// The kernel's table of mounts (/proc/self/mountinfo) and the part of it that holds volumes: file
// systems whose source is a block device under /dev.

#include <sys/types.h>

#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

struct MountEntry {
    std::string root;        // the folder of the file system that is mounted ("/" for all of it)
    std::string mountPoint;  // where it is mounted
    std::string type;        // as the kernel names it: ext4, fuseblk, fuse.fusefat, ...
    std::string source;      // /dev/vda, a server path, or a pseudo name
    bool readOnly = false;
};

// The lines of a mountinfo text, in order; malformed lines are skipped and the octal escapes of
// paths (\040 for a space) are decoded.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// True for a mount that can be a volume: all of a file system from a /dev source, of no pseudo
// type. Whether the source is a block device is checked against the system (BlockVolumes).
bool IsVolumeCandidate(const MountEntry& entry);

// The system's mount table now. An operation reads it once and passes it down, so that all of
// it sees one table.
std::vector<MountEntry> ReadMountTable();

struct BlockVolume {
    MountEntry mount;
    dev_t device = 0;
};

// The volumes of `table`, one per mount point (the latest mount over a point wins).
std::vector<BlockVolume> BlockVolumes(const std::vector<MountEntry>& table);

// The root of a mount point, as the inventory names it: the point with a trailing slash.
std::string RootOfMountPoint(const std::string& mountPoint);
// The mount point of a root; empty when `root` has no trailing slash.
std::string MountPointOfRoot(const std::string& root);

// The volume of `table` whose root is `root`; false when none is mounted there.
bool FindBlockVolume(const std::vector<MountEntry>& table, const std::string& root,
                     BlockVolume& volume);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
