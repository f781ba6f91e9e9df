// Win32 backend of the platform seam: each entry is the Windows call of the same name, with the
// arguments as given.

#include "base/platform/Platform.h"

#include <windows.h>

namespace Ovra {
namespace platform {
namespace {

const long long kUnixEpochIn100ns = 116444736000000000LL;  // 1601-01-01 to 1970-01-01

// Clock and zone changes need a privilege that processes hold but have not enabled.
bool EnablePrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = ::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
              ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
              ::GetLastError() == ERROR_SUCCESS;
    ::CloseHandle(token);
    return ok;
}

SYSTEMTIME ToSystemTime(const ZoneRuleTime& t) {
    SYSTEMTIME s{};
    s.wYear = t.year;
    s.wMonth = t.month;
    s.wDayOfWeek = t.dayOfWeek;
    s.wDay = t.day;
    s.wHour = t.hour;
    s.wMinute = t.minute;
    s.wSecond = t.second;
    s.wMilliseconds = t.milliseconds;
    return s;
}

class Win32Platform final : public Platform {
public:
    Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                       std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override {
        return ::CreateFileW(path, desiredAccess, shareMode, nullptr, creationDisposition,
                             flagsAndAttributes, nullptr);
    }
    int DeviceIoControl(Handle device, std::uint32_t ioControlCode, const void* inBuffer,
                        std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                        std::uint32_t* bytesReturned) override {
        DWORD returned = 0;
        BOOL ok = ::DeviceIoControl(device, ioControlCode, const_cast<void*>(inBuffer),
                                    inBufferSize, outBuffer, outBufferSize, &returned, nullptr);
        if (bytesReturned) *bytesReturned = returned;
        return ok ? 1 : 0;
    }
    int CloseHandle(Handle handle) override { return ::CloseHandle(handle) ? 1 : 0; }

    std::uint32_t GetDriveTypeW(const wchar_t* rootPath) override {
        return ::GetDriveTypeW(rootPath);
    }
    int GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label, std::uint32_t labelSize,
                              std::uint32_t* serialNumber, std::uint32_t* maxComponentLength,
                              std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                              std::uint32_t fileSystemNameSize) override {
        DWORD serial = 0, maxComponent = 0, flags = 0;
        BOOL ok = ::GetVolumeInformationW(rootPath, label, labelSize, &serial, &maxComponent,
                                          &flags, fileSystemName, fileSystemNameSize);
        if (ok) {
            if (serialNumber) *serialNumber = serial;
            if (maxComponentLength) *maxComponentLength = maxComponent;
            if (fileSystemFlags) *fileSystemFlags = flags;
        }
        return ok ? 1 : 0;
    }
    int GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                            std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) override {
        ULARGE_INTEGER available{}, total{}, totalFree{};
        BOOL ok = ::GetDiskFreeSpaceExW(rootPath, freeBytesAvailable ? &available : nullptr,
                                        totalBytes ? &total : nullptr,
                                        totalFreeBytes ? &totalFree : nullptr);
        if (ok) {
            if (freeBytesAvailable) *freeBytesAvailable = available.QuadPart;
            if (totalBytes) *totalBytes = total.QuadPart;
            if (totalFreeBytes) *totalFreeBytes = totalFree.QuadPart;
        }
        return ok ? 1 : 0;
    }
    int SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) override {
        return ::SetVolumeLabelW(rootPath, label) ? 1 : 0;
    }
    std::vector<std::wstring> VolumeRoots() override {
        std::vector<std::wstring> roots;
        for (wchar_t letter = L'A'; letter <= L'Z'; ++letter)
            roots.push_back({letter, L':', L'\\'});
        return roots;
    }

    Module LoadLibraryW(const wchar_t* path) override { return ::LoadLibraryW(path); }
    void* GetProcAddress(Module module, const char* name) override {
        return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
    }
    int FreeLibrary(Module module) override {
        return ::FreeLibrary(static_cast<HMODULE>(module)) ? 1 : 0;
    }

    Handle CreateEventW(int manualReset, int initialState) override {
        return ::CreateEventW(nullptr, manualReset, initialState, nullptr);
    }
    int SetEvent(Handle event) override { return ::SetEvent(event) ? 1 : 0; }
    int ResetEvent(Handle event) override { return ::ResetEvent(event) ? 1 : 0; }
    Handle DuplicateHandle(Handle handle) override {
        HANDLE copy = nullptr;
        HANDLE process = ::GetCurrentProcess();
        if (!::DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return nullptr;
        return copy;
    }
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override {
        return ::WaitForMultipleObjects(count, handles, waitAll, milliseconds);
    }

    Handle CreateMutexW(const wchar_t* name) override {
        return ::CreateMutexW(nullptr, FALSE, name);
    }
    int ReleaseMutex(Handle mutex) override { return ::ReleaseMutex(mutex) ? 1 : 0; }

    long long GetCurTime() override {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER value{};
        value.LowPart = now.dwLowDateTime;
        value.HighPart = now.dwHighDateTime;
        return (static_cast<long long>(value.QuadPart) - kUnixEpochIn100ns) / 10000;
    }
    int SetCurTime(long long time) override {
        ULARGE_INTEGER value{};
        value.QuadPart = static_cast<ULONGLONG>(time * 10000 + kUnixEpochIn100ns);
        FILETIME fileTime{value.LowPart, value.HighPart};
        SYSTEMTIME systemTime{};
        if (!::FileTimeToSystemTime(&fileTime, &systemTime)) return 0;
        EnablePrivilege(SE_SYSTEMTIME_NAME);
        return ::SetSystemTime(&systemTime) ? 1 : 0;
    }
    int SetTimeZone(const TimeZone& zone) override {
        DYNAMIC_TIME_ZONE_INFORMATION info{};
        info.Bias = zone.bias;
        static_assert(sizeof info.StandardName == sizeof zone.standardName, "name size");
        static_assert(sizeof info.TimeZoneKeyName == sizeof zone.keyName, "key size");
        for (int i = 0; i < 32; ++i) {
            info.StandardName[i] = zone.standardName[i];
            info.DaylightName[i] = zone.daylightName[i];
        }
        for (int i = 0; i < 128; ++i) info.TimeZoneKeyName[i] = zone.keyName[i];
        info.StandardDate = ToSystemTime(zone.standardDate);
        info.StandardBias = zone.standardBias;
        info.DaylightDate = ToSystemTime(zone.daylightDate);
        info.DaylightBias = zone.daylightBias;
        info.DynamicDaylightTimeDisabled = zone.dynamicDaylightTimeDisabled ? TRUE : FALSE;
        EnablePrivilege(SE_TIME_ZONE_NAME);
        return ::SetDynamicTimeZoneInformation(&info) ? 1 : 0;
    }

    std::uint32_t GetLastError() override { return ::GetLastError(); }
};

}  // namespace

const BackendTraits& Traits() {
    static const BackendTraits traits = {L"\\", L".dll", false};
    return traits;
}

Platform& DefaultPlatform() {
    static Win32Platform* platform = new Win32Platform;  // never destroyed: used until exit
    return *platform;
}

}  // namespace platform
}  // namespace Ovra
