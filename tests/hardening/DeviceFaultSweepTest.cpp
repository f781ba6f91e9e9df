// Every device and system call of the SMART reading, the two inventories and the formatter fails
// in turn: each failure gives the documented result, no device handle stays open and the format
// lock is never left held.
#include <Ovra/HddSmartInfo.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/fakes/smart/FakeSmartDisk.h"
#include "tests/fakes/storage/FakeFormatLibrary.h"
#include "tests/fakes/storage/FakeStorageDevices.h"
#include "tests/storage/FormatterTestSupport.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::FakePlatform;

const std::uint32_t kIoError = 1117;  // ERROR_IO_DEVICE

TEST(DeviceFaultSweep, SmartReadingFailsCleanlyAtEveryStep) {
    struct Step {
        const char* call;
        int nth;
        int expected;
    } steps[] = {{"CreateFileW", 1, 121},
                 {"DeviceIoControl", 1, 127},
                 {"DeviceIoControl", 2, 127},
                 {"DeviceIoControl", 3, 0},
                 {"DeviceIoControl", 4, 105}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fake.AddDevice(fakes::PhysicalDrivePath(0),
                       std::make_shared<fakes::FakeSmartDisk>(
                           std::vector<fakes::SmartAttributeEntry>{{5, 0x33, 100, 100}},
                           std::vector<fakes::SmartThresholdEntry>{{5, 36}}));
        fake.FailCall(step.call, step.nth, kIoError);
        std::map<unsigned char, HddSmartAttr> attrs;
        attrs[42] = HddSmartAttr{};
        HddSmartInfo smart;
        EXPECT_EQ(smart.GetNowSmartAttr(0, attrs), step.expected) << step.call << " #" << step.nth;
        EXPECT_EQ(attrs.size(), step.expected == 0 ? 23u : 1u) << step.call << " #" << step.nth;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << step.call << " #" << step.nth;
    }
}

TEST(DeviceFaultSweep, PhysicalInventorySkipsOnlyTheDiskWhoseCallFailed) {
    // Disks 0 and 1; each disk costs one open and two requests.
    for (int nth = 1; nth <= 4; ++nth) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fakes::AddDisk(fake, 0);
        fakes::AddDisk(fake, 1);
        fake.FailCall("DeviceIoControl", nth, kIoError);
        StoragePhysicalDrive drives(1);
        PhysicalDrive drive;
        const std::size_t failedDisk = nth <= 2 ? 0 : 1;
        EXPECT_EQ(drives.GetDriveCount(), 1u) << nth;
        EXPECT_EQ(drives.GetDrive(failedDisk, drive), 121) << nth;
        EXPECT_EQ(drives.GetDrive(1 - failedDisk, drive), 0) << nth;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << nth;
    }
    for (int nth = 1; nth <= 2; ++nth) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fakes::AddDisk(fake, 0);
        fakes::AddDisk(fake, 1);
        fake.FailCall("CreateFileW", nth, kIoError);
        StoragePhysicalDrive drives(1);
        PhysicalDrive drive;
        EXPECT_EQ(drives.GetDrive(static_cast<std::size_t>(nth - 1), drive), 121) << nth;
        EXPECT_EQ(drives.GetDriveCount(), 1u) << nth;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << nth;
    }
}

TEST(DeviceFaultSweep, LogicalInventoryDropsTheVolumeOrItsDiskNumber) {
    struct Step {
        const char* call;
        int nth;      // the scan asks A:\ and B:\ before C:\; the other calls come for C:\ only
        bool listed;  // the volume still has a record
    } steps[] = {{"GetVolumeInformationW", 3, false},
                 {"GetDiskFreeSpaceExW", 1, false},
                 {"CreateFileW", 1, true},
                 {"DeviceIoControl", 1, true}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fake.AddVolume(L"C:\\", fakes::MakeVolume(L"System", L"NTFS", 7, 1000, 400));
        fakes::AddVolumeDevice(fake, L'C', {2});
        fake.FailCall(step.call, step.nth, kIoError);
        StorageLogicalDrive volumes(1);
        LogicalDrive drive;
        EXPECT_EQ(volumes.GetDrive(std::wstring(L"C:\\"), drive), step.listed ? 0 : 121)
            << step.call;
        if (step.listed) {
            EXPECT_EQ(drive.driveIndex, static_cast<std::size_t>(-1)) << step.call;
        }
        EXPECT_EQ(fake.OpenHandleCount(), 0) << step.call;
    }
}

TEST(DeviceFaultSweep, FormatterNeverLeavesTheLockHeld) {
    struct Step {
        const char* call;
        int nth;
        int expected;
    } steps[] = {{"LoadLibraryW", 1, 105},          {"GetProcAddress", 1, 105},
                 {"GetProcAddress", 2, 105},        {"GetProcAddress", 3, 105},
                 {"GetProcAddress", 4, 105},        {"GetVolumeInformationW", 1, 121},
                 {"GetDiskFreeSpaceExW", 1, 121},   {"GetDriveTypeW", 1, 105},
                 {"WaitForMultipleObjects", 1, 136}};
    storage_test::RecordingObserver observer;
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fakes::FakeFormatLibrary library;
        fake.AddModule(fakes::FakeFormatLibrary::kPath, library.Module());
        fake.AddVolume(L"E:\\", fakes::MakeVolume(L"Old", L"NTFS", 1, 1000, 500));
        fake.FailCall(step.call, step.nth, kIoError);
        {
            StorageFormatter formatter;
            StorageFormatter::SetObserver(&observer);
            EXPECT_EQ(formatter.Format(L"E:\\", 5, L"New", 1, StorageFormatter::ClusterSizeDefault),
                      step.expected)
                << step.call << " #" << step.nth;
        }
        EXPECT_TRUE(storage_test::FormatLockIsFree()) << step.call << " #" << step.nth;
        EXPECT_EQ(fake.LoadedModuleCount(), 0) << step.call << " #" << step.nth;
        EXPECT_TRUE(library.FormatCalls().empty()) << step.call << " #" << step.nth;
    }
    StorageFormatter::SetObserver(nullptr);
}

}  // namespace
}  // namespace Ovra
