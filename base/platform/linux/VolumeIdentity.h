#pragma once

// How a volume's identity as libblkid reads it (TYPE, VERSION, UUID) is given as Windows gives it.

#include <cstdint>
#include <string>

namespace Ovra {
namespace platform {
namespace posix {

// The file-system name as Windows writes it where Windows has one (NTFS, FAT32, exFAT, FAT for
// FAT12 and FAT16, Ext3), otherwise the Linux type (ext4, xfs, btrfs, ...).
std::string WindowsFileSystemName(const std::string& type, const std::string& version);

// The 32-bit volume serial number of a UUID: NTFS's 64-bit serial gives its low 32 bits; every
// other UUID gives the XOR of its 32-bit words, which for the 8-digit UUID of FAT and exFAT is the
// serial number itself. Dashes are ignored; 0 when there are no hex digits.
std::uint32_t FoldSerial(const std::string& type, const std::string& uuid);

// The serial number of an ext2/3/4 volume from its statvfs f_fsid, for when the device cannot be
// read: the kernel gives the XOR of the UUID's two little-endian 64-bit halves, whose 32-bit
// halves XORed are FoldSerial's result byte-swapped.
std::uint32_t ExtSerialFromFsid(unsigned long fsid);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
