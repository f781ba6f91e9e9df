// The time service finds the library beside itself and looks the entry point up by name.

#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <string>

namespace {

using GetNtpTimeFn = int (*)(const std::wstring&, long long&);
using GetNtpTimeExFn = int (*)(const wchar_t*, unsigned int, NtpResult*);

TEST(NtpExportTest, EntryPointsResolveByPlainName) {
#ifdef _WIN32
    wchar_t exe[MAX_PATH];
    std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    HMODULE module =
        LoadLibraryW((path.substr(0, path.find_last_of(L"\\/") + 1) + L"libntp.dll").c_str());
    const auto resolve = [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(module, name));
    };
    const auto unload = [&] { FreeLibrary(module); };
#else
    char exe[4096];
    std::string path(exe, static_cast<std::size_t>(readlink("/proc/self/exe", exe, sizeof exe)));
    void* module = dlopen((path.substr(0, path.rfind('/') + 1) + "libntp.so").c_str(), RTLD_NOW);
    const auto resolve = [&](const char* name) { return dlsym(module, name); };
    const auto unload = [&] { dlclose(module); };
#endif
    ASSERT_NE(nullptr, module);
    const auto getNtpTime = reinterpret_cast<GetNtpTimeFn>(resolve("GetNtpTime"));
    const auto getNtpTimeEx = reinterpret_cast<GetNtpTimeExFn>(resolve("GetNtpTimeEx"));
    ASSERT_NE(nullptr, getNtpTime);
    ASSERT_NE(nullptr, getNtpTimeEx);
    long long time = 0;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, getNtpTime(L"host:0", time));
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, getNtpTimeEx(L"[::1", 100, &result));
    unload();
}

}  // namespace
