#include <Ovra/StorageLogicalDrive.h>

#include "tests/fakes/storage/FakeStorageDevices.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::AddVolumeDevice;
using fakes::FakePlatform;
using fakes::FakeVolume;
using fakes::MakeVolume;

const std::size_t kUnknownDisk = static_cast<std::size_t>(-1);

class LogicalDriveTest : public ::testing::Test {
protected:
    void MountThree() {
        fake.AddVolume(L"C:\\", MakeVolume(L"System", L"NTFS", 0xC0FFEE, 500000, 1234));
        AddVolumeDevice(fake, L'C', {0});
        fake.AddVolume(L"D:\\", MakeVolume(L"Data", L"FAT32", 0xD, 8000, 800, 2));
        AddVolumeDevice(fake, L'D', {3});
        fake.AddVolume(L"E:\\", MakeVolume(L"", L"exFAT", 0xE, 1000, 10));
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    LogicalDrive drive;
    std::wstring text;
};

TEST_F(LogicalDriveTest, RecordsHoldWhatTheVolumesAnswer) {
    MountThree();
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDriveCount(), 3u);

    ASSERT_EQ(drives.GetDrive(std::wstring(L"C:\\"), drive), 0);
    EXPECT_EQ(drive.root, L"C:\\");
    EXPECT_EQ(drive.volumeName, L"System");
    EXPECT_EQ(drive.fileSystem, 5);
    EXPECT_EQ(drive.serialNumber, 0xC0FFEEu);
    EXPECT_EQ(drive.totalSize, 500000u);
    EXPECT_EQ(drive.freeSize, 1234u);  // free to the caller, not the volume-wide count
    EXPECT_EQ(drive.driveIndex, 0u);

    EXPECT_EQ(drives.GetDriveFileSystem(L"D:\\"), 3);
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"D:\\"), 3u);
    EXPECT_EQ(drives.GetDriveTotalSize(L"D:\\"), 8000u);
    EXPECT_EQ(drives.GetDriveFreeSize(L"D:\\"), 800u);
    // exFAT is outside the table; E: has no volume device, so its disk is unknown.
    EXPECT_EQ(drives.GetDriveFileSystem(L"E:\\"), 0);
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"E:\\"), kUnknownDisk);
    text = L"old";
    EXPECT_EQ(drives.GetDriveVolumeName(L"E:\\", text), 1);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(LogicalDriveTest, SendsTheExactRequests) {
    fake.AddVolume(L"C:\\", MakeVolume(L"System", L"NTFS", 1, 100, 10));
    AddVolumeDevice(fake, L'C', {0});
    StorageLogicalDrive drives(1);

    // All 26 letters are asked, failures or not.
    const auto info = fake.CallsNamed("GetVolumeInformationW");
    ASSERT_EQ(info.size(), 26u);
    EXPECT_EQ(info.front().text + info.back().text, L"A:\\Z:\\");
    EXPECT_EQ(info[2].args, (std::vector<std::uint64_t>{255, 255, 1, 1, 1}));
    const auto space = fake.CallsNamed("GetDiskFreeSpaceExW");
    ASSERT_EQ(space.size(), 1u);
    EXPECT_EQ(space[0].args, (std::vector<std::uint64_t>{1, 1, 0}));
    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].text, L"\\\\.\\C:");
    EXPECT_EQ(opens[0].args, (std::vector<std::uint64_t>{0x80000000u, 3, 3, 0}));
    const auto controls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].args, (std::vector<std::uint64_t>{0x00560000, 0, 32}));
}

TEST_F(LogicalDriveTest, DiskNumberIsUnknownUnlessExactlyOneExtentAnswers) {
    for (const wchar_t* root : {L"F:\\", L"G:\\", L"H:\\", L"I:\\"}) {
        fake.AddVolume(root, MakeVolume(L"", L"NTFS", 1, 10, 1));
    }
    AddVolumeDevice(fake, L'F', {4, 5});  // spans two disks: does not fit, the call fails
    AddVolumeDevice(fake, L'G', {});      // no extent
    AddVolumeDevice(fake, L'H', {2});
    AddVolumeDevice(fake, L'I', {7});
    fake.FailCall("DeviceIoControl", 4, platform::kErrorNotSupported);  // I's query

    StorageLogicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveCount(), 4u);
    EXPECT_EQ(drives.GetDriveIndexFromRoot(L"H:\\"), 2u);
    for (const wchar_t* root : {L"F:\\", L"G:\\", L"I:\\", L"J:\\" /* absent */}) {
        EXPECT_EQ(drives.GetDriveIndexFromRoot(root), kUnknownDisk) << root;
    }
    EXPECT_EQ(fake.CallsNamed("CloseHandle").size(), 4u);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(LogicalDriveTest, VolumesThatFailAQueryAreSkipped) {
    FakeVolume noMedium = MakeVolume(L"", L"CDFS", 1, 0, 0, 5);
    noMedium.failVolumeInformation = true;
    fake.AddVolume(L"A:\\", noMedium);
    FakeVolume noSpace = MakeVolume(L"", L"NTFS", 1, 0, 0);
    noSpace.failFreeSpace = true;
    fake.AddVolume(L"B:\\", noSpace);
    fake.AddVolume(L"R:\\", MakeVolume(L"Disc", L"CDFS", 9, 700, 0, 5));
    fake.AddVolume(L"Z:\\", MakeVolume(L"Net", L"NTFS", 2, 100, 50, 4));

    StorageLogicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveCount(), 2u);
    EXPECT_EQ(drives.IsExist(L"A:\\"), -1);
    EXPECT_EQ(drives.IsExist(L"B:\\"), -1);
    EXPECT_EQ(drives.GetDriveFileSystem(L"R:\\"), 0);  // CDFS: not in the table
    EXPECT_EQ(drives.GetVolumeIndex(L"Z:\\"), 25);
}

TEST_F(LogicalDriveTest, PositionsAreRanksAndRootsMatchExactly) {
    MountThree();
    StorageLogicalDrive drives(1);
    ASSERT_EQ(drives.GetDrive(std::size_t{0}, drive), 0);
    EXPECT_EQ(drive.root, L"C:\\");
    ASSERT_EQ(drives.GetDrive(std::size_t{7}, drive), 0);  // beyond the end: the last one
    EXPECT_EQ(drive.root, L"E:\\");
    EXPECT_EQ(drives.GetDriveRoot(7, text), 1);
    EXPECT_EQ(text, L"E:\\");

    EXPECT_EQ(drives.IsExist(L"E:\\"), 2);
    EXPECT_EQ(drives.GetVolumeIndex(L"E:\\"), 4);
    EXPECT_EQ(drives.GetVolumeIndex(L"F:\\"), -1);
    for (const wchar_t* miss : {L"F:\\", L"e:\\", L"E:", L"E:/", L"E:\\\\", L""}) {
        EXPECT_EQ(drives.IsExist(miss), -1) << miss;
        EXPECT_EQ(drives.GetDrive(std::wstring(miss), drive), 121) << miss;
        EXPECT_EQ(drives.GetDriveTotalSize(miss), 0u) << miss;
    }

    StorageLogicalDrive empty;
    drive.root = text = L"untouched";
    EXPECT_EQ(empty.GetDrive(std::size_t{0}, drive), 121);
    EXPECT_EQ(empty.GetDriveRoot(0, text), 0);
    EXPECT_EQ(drive.root + text, L"untoucheduntouched");
}

TEST_F(LogicalDriveTest, RelabelShowsOnlyAfterUpdate) {
    MountThree();
    fake.Volume(L"D:\\")->refuseRelabel = true;
    StorageLogicalDrive drives(1);

    EXPECT_EQ(drives.SetDriveName(L"Q:\\", L"New"), 121);
    EXPECT_EQ(drives.SetDriveName(L"c:\\", L"New"), 121);
    EXPECT_TRUE(fake.CallsNamed("SetVolumeLabelW").empty());  // absent roots never reach it
    EXPECT_EQ(drives.SetDriveName(L"D:\\", L"New"), 105);
    EXPECT_EQ(fake.Volume(L"D:\\")->label, L"Data");

    EXPECT_EQ(drives.SetDriveName(L"C:\\", L"Renamed"), 0);
    EXPECT_EQ(fake.CallsNamed("SetVolumeLabelW").back().text, L"C:\\|Renamed");
    EXPECT_EQ(drives.GetDriveVolumeName(L"C:\\", text), 1);
    EXPECT_EQ(text, L"System");
    drives.Update();
    EXPECT_EQ(drives.GetDriveVolumeName(L"C:\\", text), 1);
    EXPECT_EQ(text, L"Renamed");
}

TEST_F(LogicalDriveTest, UpdateReplacesTheSnapshot) {
    MountThree();
    StorageLogicalDrive drives;
    EXPECT_EQ(drives.GetDriveCount(), 0u);
    drives.Update();
    const StorageLogicalDrive copy(drives);
    fake.RemoveVolume(L"D:\\");
    drives.Update();
    EXPECT_EQ(drives.IsExist(L"E:\\"), 1);
    EXPECT_EQ(copy.GetDriveCount(), 3u);
}

// Getters read through the virtual GetDrive slots.
class FixedView : public StorageLogicalDrive {
public:
    int GetDrive(std::wstring, LogicalDrive& drive) const override {
        drive.driveIndex = 9;
        return 0;
    }
    int GetDrive(std::size_t, LogicalDrive& drive) const override {
        drive.root = L"Y:\\";
        return 0;
    }
};

TEST_F(LogicalDriveTest, GettersReadThroughTheVirtualGetDrive) {
    FixedView view;
    EXPECT_EQ(view.GetDriveIndexFromRoot(L"X:\\"), 9u);
    EXPECT_EQ(view.GetDriveRoot(0, text), 1);
    EXPECT_EQ(text, L"Y:\\");
}

}  // namespace
}  // namespace Ovra
