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

// One physical disk as the inventory saw it at its last Update.
struct OVRA_PLATFORM_MISC_API PhysicalDrive {
    int type = 0;                 // drive-type code: 2 removable medium, 3 fixed
    unsigned long long size = 0;  // bytes, from the disk geometry
    std::wstring name;            // "Disk<n>"
    std::wstring vendorId;        // as the device reports them, blanks included
    std::wstring productId;
    std::wstring serialNumber;
};

// A snapshot of the physical disks \\.\PHYSICALDRIVE0 to 31, keyed by disk number (not by
// position: with disks 0 and 2 only, there is no record 1). Nothing changes between two Updates.
// No lock: one thread at a time per instance.
class OVRA_PLATFORM_MISC_API StoragePhysicalDrive {
public:
    // With a nonzero `update`, takes the snapshot at once; otherwise starts empty.
    explicit StoragePhysicalDrive(int update = 0);
    StoragePhysicalDrive(const StoragePhysicalDrive& other);
    StoragePhysicalDrive& operator=(const StoragePhysicalDrive& other);
    virtual ~StoragePhysicalDrive();

    // Rebuilds the snapshot. A disk that cannot be opened for reading and writing, described or
    // measured has no record.
    virtual void Update();
    virtual std::size_t GetDriveCount() const;
    // 0 and the record copied out; 121 and `drive` untouched when there is no such disk.
    virtual int GetDrive(std::size_t diskNumber, PhysicalDrive& drive) const;

    // These read through GetDrive. Size: 0 when absent. Strings: 1 and the text, or 0 and `out`
    // untouched.
    unsigned long long GetDriveSize(std::size_t diskNumber) const;
    int GetDriveName(std::size_t diskNumber, std::wstring& out) const;
    int GetDriveVendorId(std::size_t diskNumber, std::wstring& out) const;
    int GetDriveProductId(std::size_t diskNumber, std::wstring& out) const;
    int GetDriveSerialNumber(std::size_t diskNumber, std::wstring& out) const;

    // Drive-type code of a root path such as C:\ (1 to 6, otherwise 0); ignores the records.
    int GetDriveTypeW(const std::wstring& root) const;

private:
    std::map<std::size_t, PhysicalDrive> m_drives;
};

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
