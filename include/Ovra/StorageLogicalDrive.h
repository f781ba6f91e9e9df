#pragma once

#include <Ovra/Export.h>

#include <cstddef>
#include <map>
#include <string>

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of exported classes
#endif

namespace Ovra {

// One lettered volume as the inventory saw it at its last Update.
struct OVRA_PLATFORM_MISC_API LogicalDrive {
    std::size_t driveIndex = static_cast<std::size_t>(-1);  // disk number; all bits: unknown
    int fileSystem = 0;  // file-system code (StorageFormatter::GetFileSystem)
    unsigned long long totalSize = 0;
    unsigned long long freeSize = 0;  // free to the calling user (quotas honoured)
    // The volume serial number. On Linux it is folded from the file system's UUID as libblkid
    // reads it: FAT and exFAT have an 8-hex-digit UUID ("1A2B-3C4D"), read as the 32-bit number
    // it spells (0x1A2B3C4D, as Windows shows it); NTFS's 16-digit UUID is its 64-bit serial,
    // of which the low 32 bits are taken (as Windows does); any other UUID gives the XOR of its
    // 32-bit words (the 32 hex digits of ext4, xfs or btrfs as four words, dashes ignored).
    unsigned int serialNumber = 0;
    std::wstring root;        // "C:\"; on Linux the mount point with a trailing slash; the key
    std::wstring volumeName;  // label, empty when none
};

// A snapshot of the volumes A:\ to Z:\ that answer the volume-information and free-space queries,
// ordered by root. A position is the rank in that order, not the letter's place in the alphabet.
// On Linux the volumes are the mounted file systems on block devices, under their mount points
// ("/", "/mnt/rec1/"); the file system, label and serial come from the device, not the mount.
// Roots are compared exactly: "c:\" and "C:" do not find "C:\". No lock: one thread at a time.
class OVRA_PLATFORM_MISC_API StorageLogicalDrive {
public:
    // With a nonzero `update`, takes the snapshot at once; otherwise starts empty.
    explicit StorageLogicalDrive(int update = 0);
    StorageLogicalDrive(const StorageLogicalDrive& other);
    StorageLogicalDrive& operator=(const StorageLogicalDrive& other);
    virtual ~StorageLogicalDrive();

    virtual void Update();
    virtual std::size_t GetDriveCount() const;
    // 0 and the record; 121 and `drive` untouched when the root is not listed.
    virtual int GetDrive(std::wstring root, LogicalDrive& drive) const;
    // 121 when empty; otherwise 0 and the record at `position`, or the last one when `position`
    // is at or beyond the end.
    virtual int GetDrive(std::size_t position, LogicalDrive& drive) const;
    // 121 when the root is not listed (the volume is not touched), 105 when the system refuses
    // the label, 0 when it took it. The stored label changes only with the next Update.
    virtual int SetDriveName(std::wstring root, const wchar_t* label);

    // Through GetDrive by position: 1 and the root, or 0 and `root` untouched when empty.
    int GetDriveRoot(std::size_t position, std::wstring& root) const;
    // Through GetDrive by root; absent roots give all bits set, 0, 0, 0, and 0 (`out` untouched).
    std::size_t GetDriveIndexFromRoot(const std::wstring& root) const;
    int GetDriveFileSystem(const std::wstring& root) const;
    unsigned long long GetDriveTotalSize(const std::wstring& root) const;
    unsigned long long GetDriveFreeSize(const std::wstring& root) const;
    int GetDriveVolumeName(const std::wstring& root, std::wstring& out) const;

    // Drive-type code of a root path (1 to 6, otherwise 0); ignores the records.
    int GetDriveTypeW(const std::wstring& root) const;
    // The position of the root's record, or -1.
    int IsExist(const std::wstring& root);
    // The letter's distance from A (A:\ 0, Z:\ 25), or -1 when the root is not listed; a root
    // without a letter (Linux) gives its position, as IsExist.
    int GetVolumeIndex(const std::wstring& root);

private:
    std::map<std::wstring, LogicalDrive> m_drives;
};

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
