#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>

#include "base/platform/Platform.h"
#include <Ovra/ResultCodes.h>
#include "src/storage/DeviceQueries.h"

#include <cwchar>
#include <iterator>

namespace Ovra {

using platform::Sys;

namespace {
const std::uint32_t kNameBufferSize = 255;
}  // namespace

StorageLogicalDrive::StorageLogicalDrive(int update) {
    if (update) Update();
}

StorageLogicalDrive::StorageLogicalDrive(const StorageLogicalDrive& other) = default;

StorageLogicalDrive& StorageLogicalDrive::operator=(const StorageLogicalDrive& other) {
    if (this != &other) m_drives = other.m_drives;
    return *this;
}

StorageLogicalDrive::~StorageLogicalDrive() = default;

void StorageLogicalDrive::Update() {
    m_drives.clear();
    for (const std::wstring& candidate : Sys().VolumeRoots()) {
        const wchar_t* root = candidate.c_str();
        wchar_t label[kNameBufferSize] = {};
        wchar_t fileSystemName[kNameBufferSize] = {};
        std::uint32_t serial = 0, maxComponentLength = 0, flags = 0;
        if (!Sys().GetVolumeInformationW(root, label, kNameBufferSize, &serial, &maxComponentLength,
                                         &flags, fileSystemName, kNameBufferSize))
            continue;
        std::uint64_t freeToCaller = 0, total = 0;
        if (!Sys().GetDiskFreeSpaceExW(root, &freeToCaller, &total, nullptr)) continue;

        LogicalDrive drive;
        // -1 (unknown disk) widens to all bits set.
        drive.driveIndex = static_cast<std::size_t>(
            static_cast<long long>(storage::QueryVolumeDiskNumber(candidate)));
        drive.fileSystem = StorageFormatter::GetFileSystem(
            std::wstring(fileSystemName, wcsnlen(fileSystemName, kNameBufferSize)));
        drive.totalSize = total;
        drive.freeSize = freeToCaller;
        drive.serialNumber = serial;
        drive.root = root;
        drive.volumeName.assign(label, wcsnlen(label, kNameBufferSize));
        m_drives[drive.root] = drive;
    }
}

std::size_t StorageLogicalDrive::GetDriveCount() const {
    return m_drives.size();
}

int StorageLogicalDrive::GetDrive(std::wstring root, LogicalDrive& drive) const {
    auto it = m_drives.find(root);
    if (it == m_drives.end()) return result::kNotFound;
    drive = it->second;
    return 0;
}

int StorageLogicalDrive::GetDrive(std::size_t position, LogicalDrive& drive) const {
    if (m_drives.empty()) return result::kNotFound;
    auto it = position < m_drives.size()
                  ? std::next(m_drives.begin(), static_cast<std::ptrdiff_t>(position))
                  : std::prev(m_drives.end());
    drive = it->second;
    return 0;
}

int StorageLogicalDrive::SetDriveName(std::wstring root, const wchar_t* label) {
    if (m_drives.find(root) == m_drives.end()) return result::kNotFound;
    return Sys().SetVolumeLabelW(root.c_str(), label) ? 0 : result::kSystemFailed;
}

int StorageLogicalDrive::GetDriveRoot(std::size_t position, std::wstring& root) const {
    LogicalDrive drive;
    if (GetDrive(position, drive) != 0) return 0;
    root = drive.root;
    return 1;
}

std::size_t StorageLogicalDrive::GetDriveIndexFromRoot(const std::wstring& root) const {
    LogicalDrive drive;
    return GetDrive(std::wstring(root), drive) == 0 ? drive.driveIndex
                                                    : static_cast<std::size_t>(-1);
}

int StorageLogicalDrive::GetDriveFileSystem(const std::wstring& root) const {
    LogicalDrive drive;
    return GetDrive(std::wstring(root), drive) == 0 ? drive.fileSystem : 0;
}

unsigned long long StorageLogicalDrive::GetDriveTotalSize(const std::wstring& root) const {
    LogicalDrive drive;
    return GetDrive(std::wstring(root), drive) == 0 ? drive.totalSize : 0;
}

unsigned long long StorageLogicalDrive::GetDriveFreeSize(const std::wstring& root) const {
    LogicalDrive drive;
    return GetDrive(std::wstring(root), drive) == 0 ? drive.freeSize : 0;
}

int StorageLogicalDrive::GetDriveVolumeName(const std::wstring& root, std::wstring& out) const {
    LogicalDrive drive;
    if (GetDrive(std::wstring(root), drive) != 0) return 0;
    out = drive.volumeName;
    return 1;
}

int StorageLogicalDrive::GetDriveTypeW(const std::wstring& root) const {
    return storage::DriveTypeCode(root);
}

int StorageLogicalDrive::IsExist(const std::wstring& root) {
    auto it = m_drives.find(root);
    if (it == m_drives.end()) return -1;
    return static_cast<int>(std::distance(m_drives.begin(), it));
}

int StorageLogicalDrive::GetVolumeIndex(const std::wstring& root) {
    if (m_drives.find(root) == m_drives.end()) return -1;
    // A root without a letter (a Linux mount point) has its position instead.
    return storage::IsLetterRoot(root) ? static_cast<int>(root[0] - L'A') : IsExist(root);
}

}  // namespace Ovra
