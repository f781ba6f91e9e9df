#include <Ovra/StoragePhysicalDrive.h>

#include <Ovra/ResultCodes.h>
#include "base/platform/DeviceHandle.h"
#include "src/storage/DeviceQueries.h"

namespace Ovra {

namespace {
const std::size_t kDiskNumbers = platform::kPhysicalDriveCount;
}  // namespace

StoragePhysicalDrive::StoragePhysicalDrive(int update) {
    if (update) Update();
}

StoragePhysicalDrive::StoragePhysicalDrive(const StoragePhysicalDrive& other) = default;

StoragePhysicalDrive& StoragePhysicalDrive::operator=(const StoragePhysicalDrive& other) {
    if (this != &other) m_drives = other.m_drives;
    return *this;
}

StoragePhysicalDrive::~StoragePhysicalDrive() = default;

void StoragePhysicalDrive::Update() {
    m_drives.clear();
    for (std::size_t number = 0; number < kDiskNumbers; ++number) {
        PhysicalDrive drive;
        if (storage::QueryPhysicalDisk(number, drive)) m_drives[number] = drive;
    }
}

std::size_t StoragePhysicalDrive::GetDriveCount() const {
    return m_drives.size();
}

int StoragePhysicalDrive::GetDrive(std::size_t diskNumber, PhysicalDrive& drive) const {
    auto it = m_drives.find(diskNumber);
    if (it == m_drives.end()) return result::kNotFound;
    drive = it->second;
    return result::kOk;
}

unsigned long long StoragePhysicalDrive::GetDriveSize(std::size_t diskNumber) const {
    PhysicalDrive drive;
    return GetDrive(diskNumber, drive) == result::kOk ? drive.size : 0;
}

int StoragePhysicalDrive::GetDriveName(std::size_t diskNumber, std::wstring& out) const {
    PhysicalDrive drive;
    if (GetDrive(diskNumber, drive) != result::kOk) return 0;
    out = drive.name;
    return 1;
}

int StoragePhysicalDrive::GetDriveVendorId(std::size_t diskNumber, std::wstring& out) const {
    PhysicalDrive drive;
    if (GetDrive(diskNumber, drive) != result::kOk) return 0;
    out = drive.vendorId;
    return 1;
}

int StoragePhysicalDrive::GetDriveProductId(std::size_t diskNumber, std::wstring& out) const {
    PhysicalDrive drive;
    if (GetDrive(diskNumber, drive) != result::kOk) return 0;
    out = drive.productId;
    return 1;
}

int StoragePhysicalDrive::GetDriveSerialNumber(std::size_t diskNumber, std::wstring& out) const {
    PhysicalDrive drive;
    if (GetDrive(diskNumber, drive) != result::kOk) return 0;
    out = drive.serialNumber;
    return 1;
}

int StoragePhysicalDrive::GetDriveTypeW(const std::wstring& root) const {
    return storage::DriveTypeCode(root);
}

}  // namespace Ovra
