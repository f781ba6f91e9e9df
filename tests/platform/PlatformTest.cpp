#include "fakes/FakePlatform.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <thread>

namespace Ovra {
namespace {

using platform::DefaultPlatform;
using platform::Sys;

TEST(Platform, InstallingAFakeReplacesAndRestoresTheDefault) {
    EXPECT_EQ(&Sys(), &DefaultPlatform());
    {
        fakes::FakePlatform fake;
        platform::ScopedPlatform scope(fake);
        EXPECT_EQ(&Sys(), &fake);
        {
            fakes::FakePlatform inner;
            platform::ScopedPlatform nested(inner);
            EXPECT_EQ(&Sys(), &inner);
        }
        EXPECT_EQ(&Sys(), &fake);
    }
    EXPECT_EQ(&Sys(), &DefaultPlatform());
}

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
    EXPECT_EQ(sys.CreateFileW(L"\\\\.\\PHYSICALDRIVE0", 0xC0000000, 3, 3, 0),
              platform::InvalidHandle());
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
    ASSERT_NE(sys.GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, fileSystem,
                                        255),
              0);
    EXPECT_NE(fileSystem[0], L'\0');
    std::uint64_t total = 0, available = 0;
    EXPECT_NE(sys.GetDiskFreeSpaceExW(L"C:\\", &available, &total, nullptr), 0);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(sys.GetDriveTypeW(L"C:\\"), 3u);
}
#endif

// A device that echoes its input length into the first output byte.
class EchoDevice : public fakes::FakeDevice {
public:
    int Control(std::uint32_t code, const void*, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override {
        if (code != 0x42 || outSize < 1) {
            *error = platform::kErrorInvalidParameter;
            return 0;
        }
        static_cast<unsigned char*>(out)[0] = static_cast<unsigned char>(inSize);
        *returned = 1;
        return 1;
    }
};

TEST(FakePlatform, RecordsCallsAndFailsTheChosenOne) {
    fakes::FakePlatform fake;
    fake.AddDevice(L"\\\\.\\DEV", std::make_shared<EchoDevice>());
    fake.FailCall("DeviceIoControl", 2, 31);
    platform::Handle device = fake.CreateFileW(L"\\\\.\\DEV", 0x80000000, 3, 3, 0);
    ASSERT_NE(device, platform::InvalidHandle());
    EXPECT_EQ(fake.OpenHandleCount(), 1);
    const unsigned char input[3] = {1, 2, 3};
    unsigned char output[4] = {};
    std::uint32_t returned = 0;
    EXPECT_NE(fake.DeviceIoControl(device, 0x42, input, 3, output, 4, &returned), 0);
    EXPECT_EQ(output[0], 3);
    EXPECT_EQ(fake.DeviceIoControl(device, 0x42, input, 3, output, 4, &returned), 0);
    EXPECT_EQ(fake.GetLastError(), 31u);
    EXPECT_NE(fake.DeviceIoControl(device, 0x42, input, 3, output, 4, &returned), 0);
    EXPECT_NE(fake.CloseHandle(device), 0);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    EXPECT_EQ(fake.CreateFileW(L"\\\\.\\NONE", 0, 0, 3, 0), platform::InvalidHandle());

    const auto opens = fake.CallsNamed("CreateFileW");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].text, L"\\\\.\\DEV");
    EXPECT_EQ(opens[0].args, (std::vector<std::uint64_t>{0x80000000, 3, 3, 0}));
    const auto controls = fake.CallsNamed("DeviceIoControl");
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[1].args, (std::vector<std::uint64_t>{0x42, 3, 4}));
    EXPECT_EQ(controls[1].input, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(FakePlatform, GateHoldsFiniteWaitsUntilTheTestLetsThemElapse) {
    fakes::FakePlatform fake;
    fake.EnableWaitGate(true);
    platform::Handle stop = fake.CreateEventW(1, 0);
    std::uint32_t results[3] = {};
    std::thread waiter([&] {
        for (auto& result : results) result = fake.WaitForMultipleObjects(1, &stop, 0, 60000);
    });
    ASSERT_TRUE(fake.Gate().AwaitEntered(1));
    fake.Gate().Elapse(2);
    ASSERT_TRUE(fake.Gate().AwaitEntered(3));
    fake.SetEvent(stop);  // a signalled object ends a gated wait as usual
    waiter.join();
    EXPECT_EQ(results[0], platform::kWaitTimeout);
    EXPECT_EQ(results[1], platform::kWaitTimeout);
    EXPECT_EQ(results[2], 0u);
    // Zero and infinite timeouts are never gated.
    EXPECT_EQ(fake.WaitForMultipleObjects(1, &stop, 0, 0), 0u);
    fake.CloseHandle(stop);
}

TEST(FakePlatform, SimulatedLibrariesCountLoadsAndFrees) {
    fakes::FakePlatform fake;
    static int marker = 0;
    fake.AddModule(L"fmifs.dll", fakes::FakeModule{{{"FormatEx", &marker}}});
    platform::Module module = fake.LoadLibraryW(L"fmifs.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(fake.GetProcAddress(module, "FormatEx"), &marker);
    EXPECT_EQ(fake.GetProcAddress(module, "Other"), nullptr);
    EXPECT_EQ(fake.LoadedModuleCount(), 1);
    EXPECT_NE(fake.FreeLibrary(module), 0);
    EXPECT_EQ(fake.FreeLibrary(module), 0);  // freed once only
    EXPECT_EQ(fake.LoadCount(L"fmifs.dll"), 1);
    EXPECT_EQ(fake.FreeCount(L"fmifs.dll"), 1);
    EXPECT_EQ(fake.LoadLibraryW(L"other.dll"), nullptr);
}

}  // namespace
}  // namespace Ovra
