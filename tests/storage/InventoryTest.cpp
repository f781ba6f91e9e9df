#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using fakes::PhysicalDrivePath;
using fakes::VolumePath;
using Args = std::vector<std::uint64_t>;

const std::size_t kUnknownDisk = static_cast<std::size_t>(-1);

class Inventory : public ::testing::Test {
protected:
    void MountThree() {
        fake.AddVolume(L"C:\\", {L"System", L"NTFS", 0xC0FFEE, 500000, 1234});
        fake.AddDevice(VolumePath(L'C'), fakes::VolumeDevice({0}));
        fake.AddVolume(L"D:\\", {L"Data", L"FAT32", 0xD, 8000, 800, 2});
        fake.AddDevice(VolumePath(L'D'), fakes::VolumeDevice({3}));
        fake.AddVolume(L"E:\\", {L"", L"exFAT", 0xE, 1000, 10});
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    PhysicalDrive disk;
    LogicalDrive volume;
    std::wstring text;
};

TEST_F(Inventory, PhysicalDisksAreKeyedByNumberWithTheirDescriptorAndGeometry) {
    fake.AddDevice(PhysicalDrivePath(0),
                   fakes::Disk(fakes::Descriptor("ATA     ", "  Padded  ", "S0", true)));
    fake.AddDevice(PhysicalDrivePath(2), fakes::Disk(fakes::Descriptor("WDC", "Two", ""),
                                                     fakes::Geometry(1500000, 255, 63, 4096)));
    fake.AddDevice(PhysicalDrivePath(31), fakes::Disk());
    fake.AddDevice(PhysicalDrivePath(32), fakes::Disk());
    StoragePhysicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveCount(), 3u);
    disk.name = L"keep";
    EXPECT_EQ(drives.GetDrive(1, disk), 121);
    EXPECT_EQ(disk.name, L"keep");
    ASSERT_EQ(drives.GetDrive(0, disk), 0);
    EXPECT_EQ(disk.type, 2);
    EXPECT_EQ(disk.vendorId + L"|" + disk.productId + L"|" + disk.serialNumber,
              L"ATA     |  Padded  |S0");
    ASSERT_EQ(drives.GetDrive(2, disk), 0);
    EXPECT_EQ(disk.type, 3);
    EXPECT_EQ(disk.name, L"Disk2");
    EXPECT_EQ(disk.serialNumber, L"");  // not inherited from the disk before
    EXPECT_EQ(drives.GetDriveSize(2), 1500000ull * 255 * 63 * 4096);  // needs 64 bits
    EXPECT_EQ(drives.GetDriveName(31, text), 1);
    EXPECT_EQ(text, L"Disk31");

    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 32u);  // 0 to 31, nothing beyond
    EXPECT_EQ(opens[0].args, (Args{0xC0000000u, 3, 3, 0}));
    const auto controls = fake.CallsNamed("DeviceIoControl");
    EXPECT_EQ(controls[0].args, (Args{0x002D1400, 12, 551}));
    EXPECT_EQ(controls[0].input, fakes::Bytes(12, 0));
    EXPECT_EQ(controls[1].args, (Args{0x00070000, 0, 24}));
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(Inventory, DescriptorOffsetsOutsideTheBufferGiveEmptyFields) {
    fakes::Bytes hostile = fakes::Descriptor("", "", "");
    fakes::Put(hostile, 12, 551, 4);          // vendor: just past the end
    fakes::Put(hostile, 16, 0xFFFFFFF0u, 4);  // product: far beyond
    fakes::Put(hostile, 24, 541, 4);          // serial: runs to the end without a terminator
    std::fill(hostile.begin() + 541, hostile.end(), 'X');
    fake.AddDevice(PhysicalDrivePath(0), fakes::Disk(hostile));
    hostile[550] = 0;
    fake.AddDevice(PhysicalDrivePath(1), fakes::Disk(hostile));
    StoragePhysicalDrive drives(1);
    ASSERT_EQ(drives.GetDrive(0, disk), 0);
    EXPECT_EQ(disk.vendorId + disk.productId + disk.serialNumber, L"");
    ASSERT_EQ(drives.GetDrive(1, disk), 0);
    EXPECT_EQ(disk.serialNumber, std::wstring(9, L'X'));
}

TEST_F(Inventory, VolumesHoldWhatTheSystemAnswers) {
    MountThree();
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDriveCount(), 3u);
    ASSERT_EQ(drives.GetDrive(std::wstring(L"C:\\"), volume), 0);
    EXPECT_EQ(volume.root + L"|" + volume.volumeName, L"C:\\|System");
    EXPECT_EQ(volume.fileSystem, 5);
    EXPECT_EQ(volume.serialNumber, 0xC0FFEEu);
    EXPECT_EQ(volume.totalSize, 500000u);
    EXPECT_EQ(volume.freeSize, 1234u);  // free to the caller, not the volume-wide count
    EXPECT_EQ(volume.driveIndex, 0u);
    EXPECT_EQ(drives.GetDriveFileSystem(L"D:\\"), 3);
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"D:\\"), 3u);
    EXPECT_EQ(drives.GetDriveTotalSize(L"D:\\"), 8000u);
    EXPECT_EQ(drives.GetDriveFreeSize(L"D:\\"), 800u);
    EXPECT_EQ(drives.GetDriveFileSystem(L"E:\\"), 0);                // exFAT: not in the table
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"E:\\"), kUnknownDisk);  // no volume device
    text = L"old";
    EXPECT_EQ(drives.GetDriveVolumeName(L"E:\\", text), 1);
    EXPECT_EQ(text, L"");

    const auto info = fake.CallsNamed("GetVolumeInformationW");
    ASSERT_EQ(info.size(), 26u);  // every letter, failures or not
    EXPECT_EQ(info.front().text + info.back().text, L"A:\\Z:\\");
    EXPECT_EQ(info[2].args, (Args{255, 255, 1, 1, 1}));
    EXPECT_EQ(fake.CallsNamed("GetDiskFreeSpaceExW")[0].args, (Args{1, 1, 0}));
    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].text, L"\\\\.\\C:");
    EXPECT_EQ(opens[0].args, (Args{0x80000000u, 3, 3, 0}));
    EXPECT_EQ(fake.CallsNamed("DeviceIoControl")[0].args, (Args{0x00560000, 0, 32}));
}

TEST_F(Inventory, DiskNumberIsKnownOnlyForExactlyOneExtent) {
    for (const wchar_t* root : {L"F:\\", L"G:\\", L"H:\\"}) fake.AddVolume(root, {});
    fake.AddDevice(VolumePath(L'F'), fakes::VolumeDevice({4, 5}));  // does not fit: fails
    fake.AddDevice(VolumePath(L'G'), fakes::VolumeDevice({}));
    fake.AddDevice(VolumePath(L'H'), fakes::VolumeDevice({2}));
    StorageLogicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"H:\\"), 2u);
    for (const wchar_t* root : {L"F:\\", L"G:\\", L"J:\\" /* absent */})
        EXPECT_EQ(drives.GetDriveIndexFromRoot(root), kUnknownDisk) << root;
}

TEST_F(Inventory, PositionsAreRanksAndRootsMatchExactly) {
    MountThree();
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDrive(std::size_t{0}, volume), 0);
    EXPECT_EQ(volume.root, L"C:\\");
    ASSERT_EQ(drives.GetDrive(std::size_t{7}, volume), 0);  // beyond the end: the last one
    EXPECT_EQ(volume.root, L"E:\\");
    EXPECT_EQ(drives.GetDriveRoot(1, text), 1);
    EXPECT_EQ(text, L"D:\\");
    EXPECT_EQ(drives.IsExist(L"E:\\"), 2);
    EXPECT_EQ(drives.GetVolumeIndex(L"E:\\"), 4);
    for (const wchar_t* miss : {L"F:\\", L"e:\\", L"E:", L"E:\\\\", L""}) {
        EXPECT_EQ(drives.IsExist(miss), -1) << miss;
        EXPECT_EQ(drives.GetVolumeIndex(miss), -1) << miss;
        EXPECT_EQ(drives.GetDrive(std::wstring(miss), volume), 121) << miss;
        EXPECT_EQ(drives.GetDriveVolumeName(miss, text), 0) << miss;
    }
    StorageLogicalDrive empty;
    EXPECT_EQ(empty.GetDrive(std::size_t{0}, volume), 121);
    EXPECT_EQ(empty.GetDriveRoot(0, text), 0);
    EXPECT_EQ(volume.root + text, L"E:\\D:\\");  // both untouched
}

TEST_F(Inventory, RelabelShowsOnlyAfterUpdate) {
    MountThree();
    StorageLogicalDrive drives(1);
    EXPECT_EQ(drives.SetDriveName(L"c:\\", L"New"), 121);
    EXPECT_TRUE(fake.CallsNamed("SetVolumeLabelW").empty());  // absent roots never reach it
    fake.FailCall("SetVolumeLabelW", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(drives.SetDriveName(L"D:\\", L"New"), 105);
    EXPECT_EQ(drives.SetDriveName(L"C:\\", L"Renamed"), 0);
    EXPECT_EQ(fake.CallsNamed("SetVolumeLabelW").back().text, L"C:\\|Renamed");
    EXPECT_EQ(drives.GetDriveVolumeName(L"C:\\", text), 1);
    EXPECT_EQ(text, L"System");
    drives.Update();
    EXPECT_EQ(drives.GetDriveVolumeName(L"C:\\", text), 1);
    EXPECT_EQ(text, L"Renamed");
}

// What both inventories share: flag 0 scans nothing, Update replaces the snapshot (copies keep
// theirs), and the drive type keeps only the known codes.
template <typename Drives>
class BothInventories : public Inventory {};
using InventoryTypes = ::testing::Types<StoragePhysicalDrive, StorageLogicalDrive>;
TYPED_TEST_SUITE(BothInventories, InventoryTypes);

TYPED_TEST(BothInventories, UpdateReplacesTheSnapshotAndDriveTypesKeepKnownCodes) {
    FakePlatform& fake = this->fake;
    for (std::size_t n : {0, 1}) fake.AddDevice(PhysicalDrivePath(n), fakes::Disk());
    for (const wchar_t* root : {L"A:\\", L"B:\\"}) fake.AddVolume(root, {});
    TypeParam drives;
    EXPECT_EQ(drives.GetDriveCount(), 0u);
    EXPECT_TRUE(fake.Calls().empty());
    drives.Update();
    const TypeParam copy(drives);
    fake.RemoveDevice(PhysicalDrivePath(0));
    fake.RemoveVolume(L"A:\\");
    drives.Update();
    EXPECT_EQ(drives.GetDriveCount(), 1u);
    EXPECT_EQ(copy.GetDriveCount(), 2u);
    fake.AddVolume(L"Q:\\", {});
    for (std::uint32_t type = 0; type <= 8; ++type) {
        fake.Volume(L"Q:\\")->driveType = type;
        EXPECT_EQ(drives.GetDriveTypeW(L"Q:\\"), type <= 6 ? static_cast<int>(type) : 0) << type;
    }
}

// Getters read through the virtual GetDrive slots.
struct DiskView : StoragePhysicalDrive {
    int GetDrive(std::size_t number, PhysicalDrive& drive) const override {
        drive.size = 42;
        return number == 7 ? 0 : 121;
    }
};
struct VolumeView : StorageLogicalDrive {
    int GetDrive(std::wstring, LogicalDrive& drive) const override {
        drive.driveIndex = 9;
        return 0;
    }
    int GetDrive(std::size_t, LogicalDrive& drive) const override {
        drive.root = L"Y:\\";
        return 0;
    }
};

TEST_F(Inventory, GettersReadThroughTheVirtualGetDrive) {
    EXPECT_EQ(DiskView().GetDriveSize(7), 42u);
    EXPECT_EQ(DiskView().GetDriveSize(0), 0u);  // what a failing GetDrive left is not used
    EXPECT_EQ(VolumeView().GetDriveIndexFromRoot(L"X:\\"), 9u);
    EXPECT_EQ(VolumeView().GetDriveRoot(0, text), 1);
    EXPECT_EQ(text, L"Y:\\");
}

}  // namespace
}  // namespace Ovra
