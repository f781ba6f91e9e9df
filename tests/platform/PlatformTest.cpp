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

}  // namespace
}  // namespace Ovra
