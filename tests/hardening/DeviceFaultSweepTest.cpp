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

#include <tuple>

namespace Ovra {
namespace {

// A call, which of its calls fails, and the result the test expects then.
using Step = std::tuple<const char*, int, int>;

const char *const kOpen = "CreateFileW", *const kIoctl = "DeviceIoControl",
                  *const kProc = "GetProcAddress", *const kVolume = "GetVolumeInformationW",
                  *const kFree = "GetDiskFreeSpaceExW", *const kLoad = "LoadLibraryW",
                  *const kWait = "WaitForMultipleObjects", *const kType = "GetDriveTypeW";

// Runs `check` once per step, on a fresh fake where the step's call fails with ERROR_IO_DEVICE.
template <std::size_t N, typename Check>
void Sweep(const Step (&steps)[N], Check check) {
    for (const auto& [call, nth, expected] : steps) {
        SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth));
        fakes::FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        fakes::FakeFormatLibrary library;
        fake.AddModule(fakes::FakeFormatLibrary::kPath, library.Module());
        fake.AddVolume(L"C:\\", {L"System", L"NTFS", 7, 1000, 400});
        fake.AddDevice(fakes::VolumePath(L'C'), fakes::VolumeDevice({2}));
        fake.AddDevice(fakes::PhysicalDrivePath(0),
                       fakes::SmartDisk(fakes::SmartPage({{5, 0x33, 0, 100, 100}}),
                                        fakes::SmartPage({{5, 36}})))
            .Answer(fakes::kStorageQueryProperty, 0, fakes::Descriptor("", "", ""))
            .Answer(0x00070000, fakes::Geometry(1000, 255, 63, 512));
        fake.AddDevice(fakes::PhysicalDrivePath(1), fakes::Disk());
        fake.FailCall(call, nth, 1117);
        check(expected, library);
        EXPECT_EQ(fake.OpenHandleCount(), 0);
        EXPECT_EQ(fake.LoadedModuleCount(), 0);
    }
}

TEST(DeviceFaultSweep, EverySequenceFailsCleanlyAtEveryStep) {
    // The SMART reading. The third request, the attribute page alone, is not needed.
    const Step smart[] = {
        {kOpen, 1, 121}, {kIoctl, 1, 127}, {kIoctl, 2, 127}, {kIoctl, 3, 0}, {kIoctl, 4, 105}};
    Sweep(smart, [](int expected, fakes::FakeFormatLibrary&) {
        std::map<unsigned char, HddSmartAttr> attrs{{42, HddSmartAttr{}}};
        EXPECT_EQ(HddSmartInfo().GetNowSmartAttr(0, attrs), expected);
        EXPECT_EQ(attrs.size(), expected == 0 ? 23u : 1u);
    });
    // The physical inventory skips only the disk whose call failed. Disks 0 and 1, each one open
    // and two requests; `expected` is the disk that fails.
    const Step physical[] = {{kOpen, 1, 0},  {kOpen, 2, 1},  {kIoctl, 1, 0},
                             {kIoctl, 2, 0}, {kIoctl, 3, 1}, {kIoctl, 4, 1}};
    Sweep(physical, [](int expected, fakes::FakeFormatLibrary&) {
        StoragePhysicalDrive drives(1);
        PhysicalDrive drive;
        EXPECT_EQ(drives.GetDriveCount(), 1u);
        EXPECT_EQ(drives.GetDrive(expected, drive), 121);
    });
    // The logical inventory drops the volume or its disk number. A:\ and B:\ are asked before
    // C:\. `expected`: the volume keeps its record.
    const Step logical[] = {{kVolume, 3, 0}, {kFree, 1, 0}, {kOpen, 1, 1}, {kIoctl, 1, 1}};
    Sweep(logical, [](int expected, fakes::FakeFormatLibrary&) {
        StorageLogicalDrive volumes(1);
        EXPECT_EQ(volumes.IsExist(L"C:\\"), expected ? 0 : -1);
        EXPECT_EQ(volumes.GetDriveIndexFromRoot(L"C:\\"), static_cast<std::size_t>(-1));
    });
    // The formatter never leaves its lock held. When FormatEx cannot be called after all the
    // result is 0, but no event 0 is sent.
    const Step format[] = {{kLoad, 1, 105}, {kProc, 1, 105},   {kProc, 2, 105},
                           {kProc, 3, 105}, {kVolume, 1, 121}, {kFree, 1, 121},
                           {kWait, 1, 136}, {kProc, 4, 0},     {kType, 1, 0}};
    Sweep(format, [](int expected, fakes::FakeFormatLibrary& library) {
        storage_test::FormatObserver observer;
        {
            StorageFormatter formatter;
            StorageFormatter::SetObserver(&observer);
            EXPECT_EQ(formatter.Format(L"C:\\", 5, L"New", 1, StorageFormatter::ClusterSizeDefault),
                      expected);
        }
        EXPECT_TRUE(storage_test::FormatLockIsFree());
        EXPECT_TRUE(library.FormatCalls().empty());
        EXPECT_EQ(observer.Count(), 0u);
    });
}

}  // namespace
}  // namespace Ovra
