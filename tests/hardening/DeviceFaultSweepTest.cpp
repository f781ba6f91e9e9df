// Every device and system call of the SMART reading, the two inventories and the formatter fails
// in turn: each failure gives the documented result, no device handle stays open, the format lock
// is never left held and no format event is sent.
#include <Ovra/HddSmartInfo.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/fakes/storage/FakeFormatLibrary.h"
#include "tests/storage/FormatterTestSupport.h"

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using fakes::FakePlatform;

const std::uint32_t kIoError = 1117;  // ERROR_IO_DEVICE

struct Step {
    const char* call;
    int nth;
    int expected;
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
    return out << step.call << " #" << step.nth;
}

TEST(DeviceFaultSweep, SmartReadingFailsCleanlyAtEveryStep) {
    const Step steps[] = {{"CreateFileW", 1, 121},
                          {"DeviceIoControl", 1, 127},
                          {"DeviceIoControl", 2, 127},
                          {"DeviceIoControl", 3, 0},  // the attribute page alone is not needed
                          {"DeviceIoControl", 4, 105}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fake.AddDevice(fakes::PhysicalDrivePath(0),
                       fakes::SmartDisk(fakes::SmartPage({{5, 0x33, 0, 100, 100}}),
                                        fakes::SmartPage({{5, 36}})));
        fake.FailCall(step.call, step.nth, kIoError);
        std::map<unsigned char, HddSmartAttr> attrs{{42, HddSmartAttr{}}};
        EXPECT_EQ(HddSmartInfo().GetNowSmartAttr(0, attrs), step.expected) << step;
        EXPECT_EQ(attrs.size(), step.expected == 0 ? 23u : 1u) << step;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << step;
    }
}

TEST(DeviceFaultSweep, PhysicalInventorySkipsOnlyTheDiskWhoseCallFailed) {
    // Disks 0 and 1, each one open and two requests; `expected` is the disk that fails.
    const Step steps[] = {{"CreateFileW", 1, 0},     {"CreateFileW", 2, 1},
                          {"DeviceIoControl", 1, 0}, {"DeviceIoControl", 2, 0},
                          {"DeviceIoControl", 3, 1}, {"DeviceIoControl", 4, 1}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fake.AddDevice(fakes::PhysicalDrivePath(0), fakes::Disk());
        fake.AddDevice(fakes::PhysicalDrivePath(1), fakes::Disk());
        fake.FailCall(step.call, step.nth, kIoError);
        StoragePhysicalDrive drives(1);
        PhysicalDrive drive;
        EXPECT_EQ(drives.GetDriveCount(), 1u) << step;
        EXPECT_EQ(drives.GetDrive(step.expected, drive), 121) << step;
        EXPECT_EQ(drives.GetDrive(1 - step.expected, drive), 0) << step;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << step;
    }
}

TEST(DeviceFaultSweep, LogicalInventoryDropsTheVolumeOrItsDiskNumber) {
    // The scan asks A:\ and B:\ before C:\; the other calls come for C:\ only. `expected`: the
    // volume keeps its record, without a disk number.
    const Step steps[] = {{"GetVolumeInformationW", 3, 0},
                          {"GetDiskFreeSpaceExW", 1, 0},
                          {"CreateFileW", 1, 1},
                          {"DeviceIoControl", 1, 1}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fake.AddVolume(L"C:\\", {L"System", L"NTFS", 7, 1000, 400});
        fake.AddDevice(fakes::VolumePath(L'C'), fakes::VolumeDevice({2}));
        fake.FailCall(step.call, step.nth, kIoError);
        StorageLogicalDrive volumes(1);
        EXPECT_EQ(volumes.IsExist(L"C:\\"), step.expected ? 0 : -1) << step;
        EXPECT_EQ(volumes.GetDriveIndexFromRoot(L"C:\\"), static_cast<std::size_t>(-1)) << step;
        EXPECT_EQ(fake.OpenHandleCount(), 0) << step;
    }
}

TEST(DeviceFaultSweep, FormatterNeverLeavesTheLockHeld) {
    const Step steps[] = {{"LoadLibraryW", 1, 105},
                          {"GetProcAddress", 1, 105},
                          {"GetProcAddress", 2, 105},
                          {"GetProcAddress", 3, 105},
                          {"GetVolumeInformationW", 1, 121},
                          {"GetDiskFreeSpaceExW", 1, 121},
                          {"WaitForMultipleObjects", 1, 136},
                          // FormatEx cannot be called after all: 0, but no event 0.
                          {"GetProcAddress", 4, 0},
                          {"GetDriveTypeW", 1, 0}};
    for (const Step& step : steps) {
        FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fakes::FakeFormatLibrary library;
        fake.AddModule(fakes::FakeFormatLibrary::kPath, library.Module());
        fake.AddVolume(L"E:\\", {L"Old", L"NTFS", 1, 1000, 500});
        fake.FailCall(step.call, step.nth, kIoError);
        storage_test::FormatObserver observer;
        {
            StorageFormatter formatter;
            StorageFormatter::SetObserver(&observer);
            EXPECT_EQ(formatter.Format(L"E:\\", 5, L"New", 1, StorageFormatter::ClusterSizeDefault),
                      step.expected)
                << step;
        }
        EXPECT_TRUE(storage_test::FormatLockIsFree()) << step;
        EXPECT_EQ(fake.LoadedModuleCount(), 0) << step;
        EXPECT_TRUE(library.FormatCalls().empty()) << step;
        EXPECT_EQ(observer.Count(), 0u) << step;
    }
}

}  // namespace
}  // namespace Ovra
