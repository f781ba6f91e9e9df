#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::PhysicalDrivePath;
using fakes::VolumePath;
using Args = std::vector<std::uint64_t>;
using Physical = StoragePhysicalDrive;

class Inventory : public ::testing::Test {
protected:
    void MountThree() {
        fake.AddVolume(L"C:\\", {L"System", L"NTFS", 0xC0FFEE, 500000, 1234});
        fake.AddDevice(VolumePath(L'C'), fakes::VolumeDevice({0}));
        fake.AddVolume(L"D:\\", {L"Data", L"FAT32", 0xD, 8000, 800, 2});
        fake.AddDevice(VolumePath(L'D'), fakes::VolumeDevice({3}));
        fake.AddVolume(L"E:\\", {L"", L"exFAT", 0xE, 1000, 10});
    }

    fakes::FakePlatform fake;
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
    fakes::Bytes hostile = fakes::Descriptor("", "", "");
    fakes::Put(hostile, 12, 551, 4);          // vendor: just past the end
    fakes::Put(hostile, 16, 0xFFFFFFF0u, 4);  // product: far beyond
    fakes::Put(hostile, 24, 541, 4);          // serial: runs to the end without a terminator
    std::fill(hostile.begin() + 541, hostile.end(), 'X');
    fake.AddDevice(PhysicalDrivePath(31), fakes::Disk(hostile));
    fake.AddDevice(PhysicalDrivePath(32), fakes::Disk());
    StoragePhysicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveCount(), 3u);
    disk.name = L"keep";
    EXPECT_EQ(drives.GetDrive(1, disk), 121);
    EXPECT_EQ(disk.name, L"keep");
    ASSERT_EQ(drives.GetDrive(0, disk), 0);
    EXPECT_EQ(disk.type, 2);
    std::wstring fields;  // through the getters, which answer for known disks only
    for (auto get : {&Physical::GetDriveName, &Physical::GetDriveVendorId,
                     &Physical::GetDriveProductId, &Physical::GetDriveSerialNumber}) {
        EXPECT_EQ((drives.*get)(0, text) * 10 + (drives.*get)(1, text), 10);
        fields += text + L"|";
    }
    EXPECT_EQ(fields, L"Disk0|ATA     |  Padded  |S0|");
    ASSERT_EQ(drives.GetDrive(2, disk), 0);
    EXPECT_EQ(disk.type + disk.serialNumber.size(), 3u);  // not inherited from the disk before
    EXPECT_EQ(drives.GetDriveSize(2), 1500000ull * 255 * 63 * 4096);  // needs 64 bits
    ASSERT_EQ(drives.GetDrive(31, disk), 0);
    EXPECT_EQ(disk.name + disk.vendorId + disk.productId + disk.serialNumber, L"Disk31");

    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 32u);  // 0 to 31, nothing beyond
    EXPECT_EQ(opens[0].args, (Args{0xC0000000u, 3, 3, 0}));
    const auto controls = fake.CallsNamed("DeviceIoControl");
    EXPECT_EQ(controls[0].args, (Args{0x002D1400, 12, 551}));
    EXPECT_EQ(controls[0].input, fakes::Bytes(12, 0));
    EXPECT_EQ(controls[1].args, (Args{0x00070000, 0, 24}));
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(Inventory, VolumesHoldWhatTheSystemAnswers) {
    MountThree();
    for (const wchar_t* root : {L"F:\\", L"G:\\", L"H:\\"}) fake.AddVolume(root, {});
    fake.AddDevice(VolumePath(L'F'), fakes::VolumeDevice({4, 5}));  // does not fit: fails
    fake.AddDevice(VolumePath(L'G'), fakes::VolumeDevice({}));
    fake.AddDevice(VolumePath(L'H'), fakes::VolumeDevice({2}));
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDriveCount(), 6u);
    ASSERT_EQ(drives.GetDrive(std::wstring(L"C:\\"), volume), 0);
    EXPECT_EQ(volume.root + L"|" + volume.volumeName, L"C:\\|System");
    // The free size is the caller's, not the volume-wide count.
    EXPECT_EQ(
        std::make_tuple(volume.fileSystem, volume.serialNumber, volume.totalSize, volume.freeSize),
        std::make_tuple(5, 0xC0FFEEu, 500000ull, 1234ull));
    EXPECT_EQ(drives.GetDriveFileSystem(L"D:\\") * 10 + drives.GetDriveFileSystem(L"E:\\"), 30);
    EXPECT_EQ(drives.GetDriveTotalSize(L"D:\\") + drives.GetDriveFreeSize(L"D:\\"), 8800u);
    text = L"old";
    EXPECT_EQ(drives.GetDriveVolumeName(L"E:\\", text), 1);
    EXPECT_EQ(text, L"");
    // The disk number is known only for exactly one extent.
    const std::size_t none = std::size_t(-1), disks[] = {0, 3, 2, none, none, none, none};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(drives.GetDriveIndexFromRoot(std::wstring(1, L"CDHEFGJ"[i]) + L":\\"), disks[i]);

    const auto info = fake.CallsNamed("GetVolumeInformationW");
    ASSERT_EQ(info.size(), 26u);  // every letter, failures or not
    EXPECT_EQ(info.front().text + info.back().text, L"A:\\Z:\\");
    EXPECT_EQ(info[2].args, (Args{255, 255, 1, 1, 1}));
    EXPECT_EQ(fake.CallsNamed("GetDiskFreeSpaceExW")[0].args, (Args{1, 1, 0}));
    const auto opens = fake.CallsNamed("CreateFileW");
    EXPECT_EQ(opens[0].text, L"\\\\.\\C:");
    EXPECT_EQ(opens[0].args, (Args{0x80000000u, 3, 3, 0}));
    EXPECT_EQ(fake.CallsNamed("DeviceIoControl")[0].args, (Args{0x00560000, 0, 32}));
}

TEST_F(Inventory, PositionsAreRanksRootsMatchExactlyAndRelabelShowsAfterUpdate) {
    MountThree();
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDrive(std::size_t{3}, volume), 0);  // one past the end: the last one
    EXPECT_EQ(drives.GetDriveRoot(1, text), 1);
    EXPECT_EQ(volume.root + text, L"E:\\D:\\");
    EXPECT_EQ(drives.IsExist(L"E:\\") * 10 + drives.GetVolumeIndex(L"E:\\"), 24);
    for (const wchar_t* miss : {L"F:\\", L"e:\\", L"E:", L"E:\\\\", L""}) {
        EXPECT_EQ(drives.IsExist(miss) + drives.GetVolumeIndex(miss), -2) << miss;
        EXPECT_EQ(drives.GetDrive(std::wstring(miss), volume), 121) << miss;
        EXPECT_EQ(drives.SetDriveName(miss, L"New"), 121) << miss;
    }
    EXPECT_TRUE(fake.CallsNamed("SetVolumeLabelW").empty());  // absent roots never reach it
    StorageLogicalDrive empty;
    EXPECT_EQ(empty.GetDrive(std::size_t{0}, volume), 121);
    EXPECT_EQ(empty.GetDriveRoot(0, text), 0);
    EXPECT_EQ(volume.root + text, L"E:\\D:\\");  // both untouched

    fake.FailCall("SetVolumeLabelW", 1, platform::kErrorAccessDenied);
    EXPECT_EQ(drives.SetDriveName(L"D:\\", L"New"), 105);
    EXPECT_EQ(drives.SetDriveName(L"C:\\", L"Renamed"), 0);
    EXPECT_EQ(fake.CallsNamed("SetVolumeLabelW").back().text, L"C:\\|Renamed");
    for (const wchar_t* name : {L"System", L"Renamed"}) {  // seen after an update only
        EXPECT_EQ(drives.GetDriveVolumeName(L"C:\\", text), 1);
        EXPECT_EQ(text, name);
        drives.Update();
    }
}

// What both inventories share: flag 0 scans nothing, Update replaces the snapshot (copies keep
// theirs), and the drive type keeps only the known codes.
template <typename Drives>
class BothInventories : public Inventory {};
using InventoryTypes = ::testing::Types<StoragePhysicalDrive, StorageLogicalDrive>;
TYPED_TEST_SUITE(BothInventories, InventoryTypes);

TYPED_TEST(BothInventories, UpdateReplacesTheSnapshotAndDriveTypesKeepKnownCodes) {
    fakes::FakePlatform& fake = this->fake;
    for (std::size_t n : {0, 1}) fake.AddDevice(PhysicalDrivePath(n), fakes::Disk());
    for (const wchar_t* root : {L"A:\\", L"B:\\"}) fake.AddVolume(root, {});
    TypeParam drives;
    EXPECT_EQ(drives.GetDriveCount(), 0u);
    EXPECT_TRUE(fake.Calls().empty());
    drives.Update();
    TypeParam copy(drives), assigned;
    assigned = drives;
    fake.RemoveDevice(PhysicalDrivePath(0));
    fake.RemoveVolume(L"A:\\");
    drives.Update();
    EXPECT_EQ(drives.GetDriveCount() + copy.GetDriveCount() + assigned.GetDriveCount(), 5u);
    for (std::uint32_t type = 0; type <= 8; ++type) {
        fake.AddVolume(L"Q:\\", {L"", L"NTFS", 0, 0, 0, type});
        EXPECT_EQ(drives.GetDriveTypeW(L"Q:\\"), type <= 6 ? static_cast<int>(type) : 0) << type;
    }
}

}  // namespace
}  // namespace Ovra
