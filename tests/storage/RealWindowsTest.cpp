// The inventories and the formatter on the real Win32 calls. The inventories are compared with
// the same questions asked directly; the formatter runs only against the test library built
// beside this executable, never against a system one.
#if defined(_WIN32)

#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "tests/storage/FormatterTestSupport.h"
#include "tests/storage/fmifs/TestFmifsControl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <vector>

namespace Ovra {
namespace {

using storage_test::Event;
using storage_test::FormatLockIsFree;

// The volume's disk as Windows tells it, or -1.
long long DirectDiskNumber(wchar_t letter) {
    const wchar_t path[] = {L'\\', L'\\', L'.', L'\\', letter, L':', L'\0'};
    HANDLE volume = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return -1;
    VOLUME_DISK_EXTENTS extents{};
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                      &extents, sizeof extents, &returned, nullptr);
    ::CloseHandle(volume);
    if (!ok || extents.NumberOfDiskExtents == 0) return -1;
    return static_cast<long>(extents.Extents[0].DiskNumber);
}

TEST(RealWindows, LogicalInventoryMatchesTheSystem) {
    StorageLogicalDrive drives(1);
    std::size_t expected = 0;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        wchar_t label[256] = {}, fileSystem[256] = {};
        DWORD serial = 0, maxComponent = 0, flags = 0;
        ULARGE_INTEGER available{}, total{};
        if (!::GetVolumeInformationW(root, label, 255, &serial, &maxComponent, &flags, fileSystem,
                                     255) ||
            !::GetDiskFreeSpaceExW(root, &available, &total, nullptr)) {
            EXPECT_EQ(drives.IsExist(root), -1) << root;
            continue;
        }
        ++expected;
        LogicalDrive drive;
        ASSERT_EQ(drives.GetDrive(std::wstring(root), drive), 0) << root;
        EXPECT_EQ(drive.volumeName, label);
        EXPECT_EQ(drive.serialNumber, serial);
        EXPECT_EQ(drive.fileSystem, StorageFormatter::GetFileSystem(fileSystem));
        EXPECT_EQ(drive.totalSize, total.QuadPart);
        EXPECT_LE(drive.freeSize, drive.totalSize);  // free space moves; its bound does not
        EXPECT_EQ(drive.driveIndex, static_cast<std::size_t>(DirectDiskNumber(letter)));
    }
    EXPECT_EQ(drives.GetDriveCount(), expected);
    EXPECT_EQ(drives.GetDriveTypeW(L"C:\\"), static_cast<int>(::GetDriveTypeW(L"C:\\")));
}

// The formatter through the real loader and the real named mutex, with the test library.
class RealFormatterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_library = ::LoadLibraryW(L"fmifs.dll");
        ASSERT_NE(m_library, nullptr) << "the test formatting library is not beside the tests";
        auto controlOf = reinterpret_cast<TestFmifsControlFunction>(
            reinterpret_cast<void*>(::GetProcAddress(m_library, TEST_FMIFS_CONTROL_EXPORT)));
        ASSERT_NE(controlOf, nullptr) << "fmifs.dll is not the test library: refusing to format";
        ASSERT_TRUE(LoadedBesideTheTests());
        control = controlOf();
        *control = TestFmifsControl{};
        StorageFormatter::SetObserver(&observer);
    }
    void TearDown() override {
        StorageFormatter::SetObserver(nullptr);
        if (m_library) ::FreeLibrary(m_library);
        EXPECT_TRUE(FormatLockIsFree());
    }

    bool LoadedBesideTheTests() const {
        wchar_t library[MAX_PATH] = {}, executable[MAX_PATH] = {};
        ::GetModuleFileNameW(m_library, library, MAX_PATH);
        ::GetModuleFileNameW(nullptr, executable, MAX_PATH);
        std::wstring a(library), b(executable);
        return a.substr(0, a.find_last_of(L'\\')) == b.substr(0, b.find_last_of(L'\\'));
    }

    TestFmifsControl* control = nullptr;
    storage_test::FormatObserver observer;

private:
    HMODULE m_library = nullptr;
};

TEST_F(RealFormatterTest, FormatRunsOnTheCallingThreadAndReleasesTheLock) {
    control->progress[0] = 25;
    control->progressCount = 1;
    control->completion = 1;
    control->formatCount = 1;
    std::wcsncpy(control->formatNames[0], L"FAT32", 15);
    control->formatLatest[0] = 1;
    StorageFormatter formatter;
    EXPECT_EQ(formatter.Format(L"C:\\", 5, L"Label", 1, StorageFormatter::ClusterSize4K), 0);
    EXPECT_EQ(observer.Calls(), (std::vector<Event>{{1, 25}, {2, 0}, {0, 0}}));
    EXPECT_STREQ(control->root, L"C:\\");
    EXPECT_EQ(control->mediaCode, ::GetDriveTypeW(L"C:\\") == DRIVE_FIXED ? 12 : 8);
    EXPECT_STREQ(control->fileSystem, L"NTFS");
    EXPECT_STREQ(control->label, L"Label");
    EXPECT_EQ(control->clusterSize, 4096u);
    EXPECT_EQ(control->callerThread, ::GetCurrentThreadId());
    EXPECT_TRUE(FormatLockIsFree());
    std::deque<int> codes;
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes, std::deque<int>{3});
}

}  // namespace
}  // namespace Ovra

#endif  // _WIN32
