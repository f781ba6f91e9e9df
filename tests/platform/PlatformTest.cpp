#include "base/platform/Platform.h"

#include <gtest/gtest.h>

#include <thread>

namespace Ovra {
namespace {

TEST(Platform, RuntimeLoadingAndWaitsOnTheRealBackend) {
    platform::Platform& sys = platform::DefaultPlatform();
#if defined(_WIN32)
    platform::Module module = sys.LoadLibraryW(L"kernel32.dll");
    EXPECT_NE(sys.GetProcAddress(module, "GetTickCount"), nullptr);
#else
    platform::Module module = sys.LoadLibraryW(L"libm.so.6");
    EXPECT_NE(sys.GetProcAddress(module, "cos"), nullptr);
#endif
    EXPECT_EQ(sys.GetProcAddress(module, "NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorProcNotFound);
    EXPECT_NE(sys.FreeLibrary(module), 0);
    EXPECT_EQ(sys.LoadLibraryW(L"ovra-no-such-library.dll"), nullptr);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorModNotFound);

    platform::Handle events[2] = {sys.CreateEventW(1, 0), sys.CreateEventW(1, 0)};
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 0, 20), platform::kWaitTimeout);
    std::thread setter([&] { sys.SetEvent(events[1]); });
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 0, platform::kInfinite), 1u);
    setter.join();
    sys.SetEvent(events[0]);
    EXPECT_EQ(sys.WaitForMultipleObjects(2, events, 1, 0), 0u);  // all of them
    EXPECT_NE(sys.CloseHandle(events[0]) * sys.CloseHandle(events[1]), 0);
}

#if !defined(_WIN32)
TEST(Platform, PosixBackendRefusesDevicesAndVolumesCleanly) {
    platform::Platform& sys = platform::DefaultPlatform();
    EXPECT_EQ(sys.CreateFileW(L"\\\\.\\CdRom0", 0xC0000000, 3, 3, 0), platform::InvalidHandle());
    EXPECT_EQ(sys.GetLastError(), platform::kErrorNotSupported);
    std::uint64_t total = 0;
    EXPECT_EQ(sys.GetDiskFreeSpaceExW(L"C:\\", nullptr, &total, nullptr), 0);
    EXPECT_EQ(sys.SetVolumeLabelW(L"C:\\", L"x"), 0);
    EXPECT_EQ(sys.GetDriveTypeW(L"C:\\"), 1u);
    EXPECT_EQ(sys.CloseHandle(reinterpret_cast<platform::Handle>(0x1234)), 0);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorInvalidHandle);
}
#endif

}  // namespace
}  // namespace Ovra
