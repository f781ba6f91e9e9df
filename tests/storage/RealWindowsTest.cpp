// The inventories and the formatter on the real Win32 calls. The formatter runs only against the
// test library built beside this executable, never against a system one.
#if defined(_WIN32)

#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>

#include "tests/storage/FormatterTestSupport.h"
#include "tests/storage/fmifs/TestFmifsControl.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace Ovra {
namespace {

TEST(RealWindows, LogicalInventoryMatchesTheSystem) {
    StorageLogicalDrive drives(1);
    std::size_t expected = 0;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        wchar_t label[256] = {}, fileSystem[256] = {};
        DWORD serial = 0;
        ULARGE_INTEGER total{};
        if (!::GetVolumeInformationW(root, label, 255, &serial, nullptr, nullptr, fileSystem,
                                     255) ||
            !::GetDiskFreeSpaceExW(root, nullptr, &total, nullptr))
            continue;
        ++expected;
        LogicalDrive drive;
        ASSERT_EQ(drives.GetDrive(std::wstring(root), drive), 0) << root;
        EXPECT_EQ(drive.volumeName + L"|" + std::to_wstring(drive.serialNumber),
                  label + (L"|" + std::to_wstring(serial)));
        EXPECT_EQ(drive.fileSystem, StorageFormatter::GetFileSystem(fileSystem));
        EXPECT_EQ(drive.totalSize, total.QuadPart);
    }
    EXPECT_EQ(drives.GetDriveCount(), expected);
}

TEST(RealWindows, FormatterUsesTheTestLibraryOnTheCallingThread) {
    HMODULE library = ::LoadLibraryW(L"fmifs.dll");
    auto controlOf = reinterpret_cast<TestFmifsControlFunction>(reinterpret_cast<void*>(
        library ? ::GetProcAddress(library, TEST_FMIFS_CONTROL_EXPORT) : nullptr));
    ASSERT_NE(controlOf, nullptr) << "fmifs.dll is not the test library: refusing to format";
    TestFmifsControl* control = controlOf();
    *control = TestFmifsControl{};
    control->progress = 25;
    std::wcscpy(control->format, L"FAT32");
    storage_test::FormatObserver observer;  // outlives the formatter, whose end clears it
    StorageFormatter::SetObserver(&observer);
    StorageFormatter formatter;
    EXPECT_EQ(formatter.Format(L"C:\\", 5, L"Label", 1, StorageFormatter::ClusterSize4K), 0);
    EXPECT_EQ(observer.Calls(), (std::vector<storage_test::Event>{{1, 25}, {2, 0}, {0, 0}}));
    EXPECT_EQ(std::wstring(control->fileSystem) + L"|" + control->label, L"NTFS|Label");
    EXPECT_EQ(control->clusterSize, 4096u);
    EXPECT_EQ(control->callerThread, ::GetCurrentThreadId());
    EXPECT_TRUE(storage_test::FormatLockIsFree());
    std::deque<int> codes;
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes, std::deque<int>{3});
    ::FreeLibrary(library);
}

}  // namespace
}  // namespace Ovra

#endif  // _WIN32
