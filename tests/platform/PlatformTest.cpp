#include "base/platform/Platform.h"

#include <gtest/gtest.h>

#include <thread>

namespace Ovra {
namespace {

using platform::DefaultPlatform;

TEST(Platform, RuntimeLoadingFindsSystemLibrariesAndRefusesMissingOnes) {
    platform::Platform& sys = DefaultPlatform();
#if defined(_WIN32)
    const wchar_t* library = L"kernel32.dll";
    const char* symbol = "GetTickCount";
#else
    const wchar_t* library = L"libm.so.6";
    const char* symbol = "cos";
#endif
    platform::Module module = sys.LoadLibraryW(library);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(sys.GetProcAddress(module, symbol), nullptr);
    EXPECT_EQ(sys.GetProcAddress(module, "NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorProcNotFound);
    EXPECT_NE(sys.FreeLibrary(module), 0);
    EXPECT_EQ(sys.LoadLibraryW(L"ovra-no-such-library.dll"), nullptr);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorModNotFound);
}

TEST(Platform, WaitingOnSeveralEventsTimesOut) {
    platform::Platform& sys = DefaultPlatform();
    platform::Handle events[2] = {sys.CreateEventW(1, 0), sys.CreateEventW(1, 0)};
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 0, 20), platform::kWaitTimeout);
    std::thread setter([&] { sys.SetEvent(events[1]); });
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 0, platform::kInfinite), 1u);
    setter.join();
    sys.SetEvent(events[0]);
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 1, 0), 0u);  // all of them
    EXPECT_NE(sys.CloseHandle(events[0]), 0);
    EXPECT_NE(sys.CloseHandle(events[1]), 0);
}

#if !defined(_WIN32)
TEST(Platform, PosixBackendRefusesDevicesAndVolumesCleanly) {
    platform::Platform& sys = DefaultPlatform();
    EXPECT_EQ(sys.CreateFileW(L"\\\\.\\CdRom0", 0xC0000000, 3, 3, 0), platform::InvalidHandle());
    EXPECT_EQ(sys.GetLastError(), platform::kErrorNotSupported);
    std::uint64_t total = 0;
    EXPECT_EQ(sys.GetDiskFreeSpaceExW(L"C:\\", nullptr, &total, nullptr), 0);
    EXPECT_EQ(sys.GetVolumeInformationW(L"C:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0),
              0);
    EXPECT_EQ(sys.SetVolumeLabelW(L"C:\\", L"x"), 0);
    EXPECT_EQ(sys.GetDriveTypeW(L"C:\\"), 1u);
    EXPECT_EQ(sys.CloseHandle(reinterpret_cast<platform::Handle>(0x1234)), 0);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorInvalidHandle);
}
#else
TEST(Platform, Win32BackendAnswersTheVolumeQueries) {
    platform::Platform& sys = DefaultPlatform();
    wchar_t fileSystem[255] = {};
    std::uint32_t serial = 0;
    ASSERT_NE(
        sys.GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, fileSystem, 255),
        0);
    EXPECT_NE(fileSystem[0], L'\0');
    std::uint64_t total = 0, available = 0;
    EXPECT_NE(sys.GetDiskFreeSpaceExW(L"C:\\", &available, &total, nullptr), 0);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(sys.GetDriveTypeW(L"C:\\"), 3u);
}
#endif

}  // namespace
}  // namespace Ovra
