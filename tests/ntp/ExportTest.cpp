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
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::wstring path(exe, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"libntp.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module);
    const auto resolve = [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(module, name));
    };
#else
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(n, 0);
    std::string path(exe, static_cast<std::size_t>(n));
    path = path.substr(0, path.rfind('/') + 1) + "libntp.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, module) << dlerror();
    const auto resolve = [&](const char* name) { return dlsym(module, name); };
#endif
    const auto getNtpTime = reinterpret_cast<GetNtpTimeFn>(resolve("GetNtpTime"));
    const auto getNtpTimeEx = reinterpret_cast<GetNtpTimeExFn>(resolve("GetNtpTimeEx"));
    ASSERT_NE(nullptr, getNtpTime);
    ASSERT_NE(nullptr, getNtpTimeEx);
    long long time = 0;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, getNtpTime(L"host:0", time));
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, getNtpTimeEx(L"[::1", 100, &result));
#ifdef _WIN32
    FreeLibrary(module);
#else
    dlclose(module);
#endif
}

}  // namespace
