#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/fakes/storage/FakeStorageDevices.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::AddDisk;
using fakes::FakeDisk;
using fakes::FakePlatform;

class PhysicalDriveTest : public ::testing::Test {
protected:
    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    PhysicalDrive drive;
    std::wstring text;
};

TEST_F(PhysicalDriveTest, KeysAreDiskNumbersAndGapsStayGaps) {
    AddDisk(fake, 0)->SetIdentity("ATA", "Disk zero", "S0");
    AddDisk(fake, 2)->SetIdentity("WDC", "Disk two", "S2").SetGeometry(2000, 16, 63, 4096);
    AddDisk(fake, 31)->SetIdentity("USB", "Last", "S31");
    AddDisk(fake, 32);

    StoragePhysicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveCount(), 3u);
    drive.name = L"keep";
    EXPECT_EQ(drives.GetDrive(1, drive), 121);
    EXPECT_EQ(drive.name, L"keep");

    ASSERT_EQ(drives.GetDrive(2, drive), 0);
    EXPECT_EQ(drive.name, L"Disk2");
    EXPECT_EQ(drive.vendorId, L"WDC");
    EXPECT_EQ(drive.productId, L"Disk two");
    EXPECT_EQ(drive.serialNumber, L"S2");
    EXPECT_EQ(drive.type, 3);
    EXPECT_EQ(drive.size, 2000ull * 16 * 63 * 4096);
    EXPECT_EQ(drives.GetDriveName(31, text), 1);
    EXPECT_EQ(text, L"Disk31");

    // Every number from 0 to 31 is probed, and nothing beyond.
    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 32u);
    EXPECT_EQ(opens.back().text, L"\\\\.\\PHYSICALDRIVE31");
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(PhysicalDriveTest, SendsTheExactRequests) {
    AddDisk(fake, 0);
    StoragePhysicalDrive drives(1);
    EXPECT_EQ(fake.CallsNamed("CreateFileW")[0].args,
              (std::vector<std::uint64_t>{0xC0000000u, 3, 3, 0}));
    const auto controls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].args, (std::vector<std::uint64_t>{0x002D1400, 12, 551}));
    EXPECT_EQ(controls[0].input, std::vector<std::uint8_t>(12, 0));
    EXPECT_EQ(controls[1].args, (std::vector<std::uint64_t>{0x00070000, 0, 24}));
    EXPECT_EQ(fake.CallsNamed("CloseHandle").size(), 1u);
}

TEST_F(PhysicalDriveTest, StringsComeAsTheDeviceGivesThem) {
    AddDisk(fake, 0)->SetIdentity("ATA     ", "  Padded Product  ", "SER-0");
    AddDisk(fake, 1)->SetIdentity("ATA", "No serial", "");  // SerialNumberOffset 0
    StoragePhysicalDrive drives(1);
    EXPECT_EQ(drives.GetDriveVendorId(0, text), 1);
    EXPECT_EQ(text, L"ATA     ");
    EXPECT_EQ(drives.GetDriveProductId(0, text), 1);
    EXPECT_EQ(text, L"  Padded Product  ");
    // A disk without serial does not inherit the one read before it.
    EXPECT_EQ(drives.GetDriveSerialNumber(1, text), 1);
    EXPECT_EQ(text, L"");
}

TEST_F(PhysicalDriveTest, OffsetsOutsideTheBufferGiveEmptyFields) {
    AddDisk(fake, 0)
        ->SetOffset(FakeDisk::kVendor, 551)
        .SetOffset(FakeDisk::kProduct, 0xFFFFFFF0u)
        // Runs to the very end of the 551 bytes without a terminator.
        .PlaceRaw(FakeDisk::kSerial, 541, std::string(10, 'X'));
    AddDisk(fake, 1)->PlaceRaw(FakeDisk::kVendor, 540, std::string(10, 'Y'));  // last byte NUL

    StoragePhysicalDrive drives(1);
    ASSERT_EQ(drives.GetDrive(0, drive), 0);
    EXPECT_EQ(drive.vendorId + drive.productId + drive.serialNumber, L"");
    ASSERT_EQ(drives.GetDrive(1, drive), 0);
    EXPECT_EQ(drive.vendorId, std::wstring(10, L'Y'));
}

TEST_F(PhysicalDriveTest, KindSizeAndFailingSteps) {
    AddDisk(fake, 0)->SetRemovable(true);
    // The product needs 64 bits: 1.5M cylinders x 255 x 63 x 4096.
    AddDisk(fake, 1)->SetGeometry(1500000, 255, 63, 4096);
    AddDisk(fake, 2)->SetGeometry(0, 255, 63, 512);
    AddDisk(fake, 3)->refuseDescriptor = true;
    AddDisk(fake, 4)->refuseGeometry = true;
    fake.FailCall("CreateFileW", 6, platform::kErrorAccessDenied);
    AddDisk(fake, 5);  // cannot be opened
    AddDisk(fake, 6);
    StoragePhysicalDrive drives(1);

    ASSERT_EQ(drives.GetDrive(0, drive), 0);
    EXPECT_EQ(drive.type, 2);
    ASSERT_EQ(drives.GetDrive(1, drive), 0);
    EXPECT_EQ(drive.type, 3);
    EXPECT_EQ(drives.GetDriveSize(1), 1500000ull * 255 * 63 * 4096);
    EXPECT_EQ(drives.GetDriveSize(2), 0u);
    EXPECT_EQ(drives.GetDriveSize(7), 0u);  // absent reads as an empty disk
    // A failing step skips only that disk.
    EXPECT_EQ(drives.GetDriveCount(), 4u);
    for (std::size_t n : {3, 4, 5}) EXPECT_EQ(drives.GetDrive(n, drive), 121) << n;
    EXPECT_EQ(drives.GetDrive(6, drive), 0);
    EXPECT_EQ(fake.OpenHandleCount(), 0);  // closed on every path
}

TEST_F(PhysicalDriveTest, UpdateReplacesTheSnapshot) {
    AddDisk(fake, 0);
    AddDisk(fake, 1);
    StoragePhysicalDrive drives;
    EXPECT_TRUE(fake.CallsNamed("CreateFileW").empty());  // flag 0: no scan
    drives.Update();
    fake.RemoveDevice(fakes::PhysicalDrivePath(0));
    drives.Update();
    EXPECT_EQ(drives.GetDriveCount(), 1u);
    EXPECT_EQ(drives.GetDriveSize(1), 1000ull * 255 * 63 * 512);  // keeps its key
}

// An override of GetDrive is what every getter sees.
class OneDiskView : public StoragePhysicalDrive {
public:
    int GetDrive(std::size_t diskNumber, PhysicalDrive& drive) const override {
        drive.size = 42;
        drive.serialNumber = L"S";
        return diskNumber == 7 ? 0 : 121;
    }
};

TEST_F(PhysicalDriveTest, GettersReadThroughTheVirtualGetDrive) {
    OneDiskView view;
    EXPECT_EQ(view.GetDriveSize(7), 42u);
    EXPECT_EQ(view.GetDriveSize(0), 0u);  // what a failing GetDrive left is not used
    EXPECT_EQ(view.GetDriveSerialNumber(7, text), 1);
    EXPECT_EQ(text, L"S");
}

// One implementation serves both inventories.
TEST_F(PhysicalDriveTest, DriveTypeKeepsOnlyKnownCodes) {
    StoragePhysicalDrive drives;
    StorageLogicalDrive volumes;
    for (std::uint32_t type = 0; type <= 8; ++type) {
        fake.SetDriveType(L"Q:\\", type);
        const int expected = type <= 6 ? static_cast<int>(type) : 0;
        EXPECT_EQ(drives.GetDriveTypeW(L"Q:\\"), expected) << type;
        EXPECT_EQ(volumes.GetDriveTypeW(L"Q:\\"), expected) << type;
    }
    fake.FailCall("GetDriveTypeW", 1, platform::kErrorInvalidParameter);
    EXPECT_EQ(drives.GetDriveTypeW(L"Q:\\"), 0);
}

}  // namespace
}  // namespace Ovra
