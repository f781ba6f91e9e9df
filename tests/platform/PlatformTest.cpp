#include "base/platform/Platform.h"

#include <Ovra/Bases/StringConv.h>

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
    EXPECT_EQ(sys.GetProcAddress(module, nullptr), nullptr);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorInvalidHandle);
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
    // A duplicate keeps the event until it is closed too; a closed handle is gone.
    const platform::Handle copy = sys.DuplicateHandle(events[0]);
    EXPECT_NE(sys.CloseHandle(events[0]) * sys.CloseHandle(events[1]), 0);
    EXPECT_NE(sys.ResetEvent(copy), 0);
    EXPECT_NE(sys.CloseHandle(copy), 0);
    EXPECT_EQ(sys.SetEvent(copy), 0);
    EXPECT_EQ(sys.GetLastError(), platform::kErrorInvalidHandle);
}

#if !defined(_WIN32)
// A zone name is letters, digits and / _ - + below the zone folder, or refused before any file is
// looked at. None of these names is a zone, so even a wrong answer leaves the real zone alone.
TEST(Platform, ZoneNamesOfOtherCharactersAreRefusedBeforeAnyFile) {
    std::uint32_t error = platform::kErrorFileNotFound;  // the first name only: a good one
    for (const std::wstring name :
         {L"Az/Za09_-+", L"/Az", L"", L"Az@", L"Az[", L"Az`", L"Az{", L"Az:", L"Az."}) {
        TimeZone zone{};
        name.copy(zone.keyName, name.size());
        EXPECT_EQ(platform::DefaultPlatform().SetTimeZone(zone), 0) << tcs_to_utf8(name);
        EXPECT_EQ(platform::DefaultPlatform().GetLastError(), error) << tcs_to_utf8(name);
        error = platform::kErrorInvalidParameter;
    }
}
#endif

}  // namespace
}  // namespace Ovra
